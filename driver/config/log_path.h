// Where the diagnostic log and the traffic capture go.
#pragma once

#include <string>

// Log path from the [Logging] directory and file name, relative to the library's folder.
std::string ResolveLogPath(const std::string& logDir, const std::string& logFile, const std::string& moduleDir,
                           const std::string& moduleBaseName);

// Capture file from [Capture] File: empty gives Logs\<module base name>.pcapng in the library's
// folder; a relative path is taken from the library's folder.
std::string ResolveCapturePath(const std::string& file, const std::string& moduleDir, const std::string& moduleBaseName);
