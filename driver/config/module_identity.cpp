#include "driver/config/module_identity.h"

#include "platform/platform.h"

std::string LastPathComponent(const std::string& path) {
    size_t pos = path.find_last_of("\\/");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string WithoutLastComponent(const std::string& path) {
    size_t pos = path.find_last_of("\\/");
    return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

std::string JoinDir(const std::string& dir, const std::string& name) {
    if (dir.empty() || platform::IsPathSeparator(dir.back())) return dir + name;
    return dir + platform::kPathSeparator + name;
}

std::string StripExtension(const std::string& fileName) {
    size_t pos = fileName.find_last_of('.');
    return pos == std::string::npos ? fileName : fileName.substr(0, pos);
}

std::string ModuleFullPath() {
    static const std::string path = platform::ThisModulePath();
    return path;
}

std::string ModuleDirectory() { return WithoutLastComponent(ModuleFullPath()); }

std::string ModuleBaseName() {
    const std::string path = ModuleFullPath();
    if (path.empty()) return "Orvex_J2534";
    return StripExtension(LastPathComponent(path));
}
