#include "driver/config/log_path.h"

#include "driver/config/config_values.h"
#include "platform/platform.h"

namespace {
bool EndsWithSeparator(const std::string& s) { return !s.empty() && platform::IsPathSeparator(s.back()); }
}  // namespace

std::string ResolveLogPath(const std::string& logDir, const std::string& logFile, const std::string& moduleDir,
                           const std::string& moduleBaseName) {
    std::string dir = logDir;
    std::string file = logFile.empty() ? moduleBaseName + ".log" : logFile;
    const char sep = platform::kPathSeparator;
    if (!dir.empty()) {
        if (!platform::IsAbsolutePath(dir)) {
            std::string prefix = moduleDir;
            if (!prefix.empty() && !EndsWithSeparator(prefix)) prefix += sep;
            dir = prefix + dir;
        }
        if (!EndsWithSeparator(dir)) dir += sep;
        return dir + platform::LastPathComponent(file);
    }
    if (platform::IsAbsolutePath(file)) return file;
    if (moduleDir.empty()) return file;
    std::string base = moduleDir;
    if (!EndsWithSeparator(base)) base += sep;
    if (file.size() >= 5 && LowerAscii(file.substr(0, 4)) == "logs" && platform::IsPathSeparator(file[4]))
        file = file.substr(5);
    return base + "Logs" + sep + file;
}


std::string ResolveCapturePath(const std::string& file, const std::string& moduleDir, const std::string& moduleBaseName) {
    const std::string name =
        file.empty() ? std::string("Logs") + platform::kPathSeparator + moduleBaseName + ".pcapng" : file;
    if (platform::IsAbsolutePath(name) || moduleDir.empty()) return name;
    return platform::JoinDir(moduleDir, name);
}
