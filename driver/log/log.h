// The diagnostic log: one plain-text line per call, CR LF, no stamps; a banner per file,
// size-based rotation, a mirror for architecture-suffixed library names, and the early log.
// It knows nothing of the configuration: the loader hands it its settings once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

struct LogSettings {
    bool enabled = true;         // [Logging] LogEnabled
    std::string path;            // the main log; empty: nothing is written
    std::string moduleBaseName;  // the library's name without extension: banner and mirror name
    std::string moduleDir;       // the library's folder, for the banner
};
// Set once when the configuration loads (and by tests), before other threads log; read
// without a lock afterwards.
void SetLogSettings(const LogSettings& settings);
const LogSettings& CurrentLogSettings();

void WriteLogLine(const std::string& line);
void WriteLogLine(const char* line);
// Whether lines are written at all; callers skip building costly arguments (hex dumps) when not.
bool LogActive();
void LogPrintf(const char* format, ...) PLATFORM_PRINTF_FORMAT(1, 2);
void LogPrintfShort(const char* format, ...) PLATFORM_PRINTF_FORMAT(1, 2);
void WriteEarlyLog(const char* format, ...) PLATFORM_PRINTF_FORMAT(1, 2);
// Up to 32 bytes as two-digit hex separated by blanks, then " ..." when longer.
std::string FormatHexBytes(const uint8_t* data, size_t length, bool lowerCase = false);

// Second file that receives every line when the log is named "..._x86" or "..._x64"; empty if none.
std::string MirrorLogPath(const std::string& logPath, const std::string& moduleBaseName);
// Archive name for rotation: stem + "_" + stamp (+ "_" + n when n > 0) + extension.
std::string RotationArchiveName(const std::string& path, const std::string& stamp, unsigned n);
// The local time as archive names carry it: YYYYMMDD_HHMMSS.
std::string RotationTimeStamp();
// Renames the file to the first free archive name (100 tries). True when it was renamed.
bool RotateLog(const std::string& path, const std::string& stamp);
// Directory of the early log ("...\Zelkor-Tech\MIVRA_J2534"), from the environment.
std::string EarlyLogDirectory();

constexpr uint64_t kLogRotateBytes = 1468000;
