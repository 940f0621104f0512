#include "driver/log/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>


namespace {

LogSettings g_settings;
std::string g_mirror;  // follows from the settings
std::mutex g_logLock;
bool g_bannerWritten = false;

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool EndsWithArchSuffix(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = Lower(name.substr(name.size() - 4));
    return tail == "_x86" || tail == "_x64";
}

// One open per line; the folder is made only when the file cannot be opened.
platform::AppendResult AppendCreatingFolder(const std::string& path, const std::string& bytes, uint64_t refuseFrom) {
    platform::AppendResult r = platform::AppendToFile(path, bytes.data(), bytes.size(), refuseFrom);
    if (r != platform::AppendResult::NotOpened) return r;
    const std::string dir = platform::WithoutLastComponent(path);
    if (dir.empty() || !platform::CreateDirectories(dir)) return r;
    return platform::AppendToFile(path, bytes.data(), bytes.size(), refuseFrom);
}

// Appends a line; a file that has reached the size limit is renamed away first. True when it was.
bool AppendRotating(const std::string& path, const std::string& bytes);

std::string BannerLine() {
    const std::string& dir = g_settings.moduleDir;
    return std::string("Wrapper build: ") + __DATE__ + " " + __TIME__ + " | DLL=" + g_settings.moduleBaseName +
           " | Dir=" + (dir.empty() ? std::string("?") : dir);
}

}  // namespace

void SetLogSettings(const LogSettings& settings) {
    std::lock_guard<std::mutex> lock(g_logLock);
    g_settings = settings;
    g_mirror = MirrorLogPath(settings.path, settings.moduleBaseName);
    g_bannerWritten = false;
}

const LogSettings& CurrentLogSettings() { return g_settings; }

std::string MirrorLogPath(const std::string& logPath, const std::string& moduleBaseName) {
    size_t sepPos = logPath.find_last_of("\\/");
    std::string dirPart = sepPos == std::string::npos ? std::string() : logPath.substr(0, sepPos + 1);
    std::string fileName = sepPos == std::string::npos ? logPath : logPath.substr(sepPos + 1);
    size_t dot = fileName.find_last_of('.');
    std::string stem = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    std::string ext = dot == std::string::npos ? std::string() : fileName.substr(dot);
    if (!EndsWithArchSuffix(stem)) return {};
    std::string name;
    if (!moduleBaseName.empty()) {
        name = moduleBaseName;
        if (EndsWithArchSuffix(name)) name.resize(name.size() - 4);
    } else {
        name = stem.substr(0, stem.size() - 4);
    }
    std::string mirror = dirPart + name + ext;
    return mirror == logPath ? std::string() : mirror;
}

std::string RotationArchiveName(const std::string& path, const std::string& stamp, unsigned n) {
    size_t sepPos = path.find_last_of("\\/");
    size_t dot = path.find_last_of('.');
    bool hasExt = dot != std::string::npos && (sepPos == std::string::npos || dot > sepPos);
    std::string stem = hasExt ? path.substr(0, dot) : path;
    std::string ext = hasExt ? path.substr(dot) : std::string();
    std::string name = stem + "_" + stamp;
    if (n > 0) name += "_" + std::to_string(n);
    return name + ext;
}

std::string RotationTimeStamp() {
    platform::LocalTime t = platform::GetLocalTime();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u%02u%02u_%02u%02u%02u", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buf;
}

bool RotateLog(const std::string& path, const std::string& stamp) {
    if (path.empty()) return false;
    for (unsigned n = 0; n < 100; ++n) {
        std::string archive = RotationArchiveName(path, stamp, n);
        if (platform::GetFileInfo(archive).exists) continue;
        if (platform::RenameReplace(path, archive)) return true;
    }
    return false;
}

bool LogActive() { return g_settings.enabled && !g_settings.path.empty(); }

void WriteLogLine(const char* line) {
    if (line && LogActive()) WriteLogLine(std::string(line));
}

namespace {
bool AppendRotating(const std::string& path, const std::string& bytes) {
    if (AppendCreatingFolder(path, bytes, kLogRotateBytes) != platform::AppendResult::Full) return false;
    // Should every name be taken, the file keeps its name and goes on growing.
    const bool rotated = RotateLog(path, RotationTimeStamp());
    AppendCreatingFolder(path, bytes, platform::kNoSizeLimit);
    return rotated;
}
}  // namespace

void WriteLogLine(const std::string& line) {
    if (!LogActive()) return;
    const std::string& logPath = g_settings.path;
    std::string bytes;
    bytes.reserve(line.size() + 2);
    bytes.append(line).append("\r\n");

    std::lock_guard<std::mutex> lock(g_logLock);
    const std::string& mirror = g_mirror;
    if (!g_bannerWritten) {
        g_bannerWritten = true;
        const std::string banner = BannerLine() + "\r\n";
        AppendCreatingFolder(logPath, banner, platform::kNoSizeLimit);
        if (!mirror.empty()) AppendCreatingFolder(mirror, banner, platform::kNoSizeLimit);
    }
    bool rotated = AppendRotating(logPath, bytes);
    if (!mirror.empty()) rotated |= AppendRotating(mirror, bytes);
    // The line that caused the rotation opens the new file; the banner follows it.
    if (rotated) g_bannerWritten = false;
}

void LogPrintf(const char* format, ...) {
    if (!g_settings.enabled || !format) return;
    char buf[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    WriteLogLine(buf);
}

void LogPrintfShort(const char* format, ...) {
    if (!format) return;
    char buf[2047];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    WriteLogLine(buf);
}

std::string FormatHexBytes(const uint8_t* data, size_t length, bool lowerCase) {
    if (!data) return {};
    const char* kHex = lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
    size_t shown = length < 32 ? length : 32;
    std::string out;
    out.reserve(shown * 3 + 4);
    for (size_t i = 0; i < shown; ++i) {
        if (i) out += ' ';
        out += kHex[data[i] >> 4];
        out += kHex[data[i] & 0x0F];
    }
    if (length > 32) out += " ...";
    return out;
}

std::string EarlyLogDirectory() {
    std::string base;
#if defined(_WIN32)
    if (!platform::GetEnv("PROGRAMDATA", &base) || base.empty() || base.size() >= 259)
        base = "C:\\ProgramData";
#else
    // The native build's equivalent of the machine-wide application-data folder.
    if (!platform::GetEnv("PROGRAMDATA", &base) || base.empty() || base.size() >= 259) {
        std::string home;
        if (platform::GetEnv("XDG_STATE_HOME", &base) && !base.empty()) {
        } else if (platform::GetEnv("HOME", &home) && !home.empty()) {
            base = home + "/.local/state";
            platform::CreateDirectories(base);
        } else {
            base = "/tmp";
        }
    }
#endif
    const char sep = platform::kPathSeparator;
    return base + sep + "Zelkor-Tech" + sep + "MIVRA_J2534";
}

void WriteEarlyLog(const char* format, ...) {
    if (!format) return;
    char buf[1024] = {0};
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    size_t len = std::strlen(buf);
    // CR LF as far as the buffer still has room.
    if (len < sizeof buf - 1) buf[len++] = '\r';
    if (len < sizeof buf - 1) buf[len++] = '\n';

    std::string dir = EarlyLogDirectory();
    platform::CreateOneDirectory(platform::WithoutLastComponent(dir));
    platform::CreateOneDirectory(dir);
    platform::AppendToFile(dir + platform::kPathSeparator + "loader.log", buf, len);
    platform::DebugOutput(buf);
}
