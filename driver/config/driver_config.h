// The process-wide configuration record, read once from the INI file next to the library.
#pragma once

#include <cstdint>
#include <string>

struct DriverConfig {
    // [Logging]
    bool LogEnabled = true;
    std::string LogPath;
    std::string LogFile;

    // Derived.
    bool ConfigFatal = false;
    std::string IniPath;
    std::string LogFilePath;
};

extern DriverConfig g_config;

// Reads the configuration once per process; concurrent callers wait for the first.
void LoadDriverConfig();
