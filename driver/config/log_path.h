// Where the diagnostic log goes, from the [Logging] keys.
#pragma once

#include <string>

// Log path from the [Logging] directory and file name, relative to the library's folder.
std::string ResolveLogPath(const std::string& logDir, const std::string& logFile, const std::string& moduleDir,
                           const std::string& moduleBaseName);
