// The driver's configuration, loaded once per process.
#pragma once

// Reads the INI beside the library into g_config once per process (concurrent callers wait for
// the first) with the bench settings applied before any other thread sees it, sets the ignition
// state from it, and writes the load's log lines once the log path is known.
void LoadDriverConfig();
