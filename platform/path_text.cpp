#include "platform/platform.h"

namespace platform {

std::string LastPathComponent(const std::string& path) {
    size_t pos = path.find_last_of("\\/");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string WithoutLastComponent(const std::string& path) {
    size_t pos = path.find_last_of("\\/");
    return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

std::string JoinDir(const std::string& dir, const std::string& name) {
    if (dir.empty() || IsPathSeparator(dir.back())) return dir + name;
    return dir + kPathSeparator + name;
}

std::string StripExtension(const std::string& fileName) {
    size_t pos = fileName.find_last_of('.');
    return pos == std::string::npos ? fileName : fileName.substr(0, pos);
}

}  // namespace platform
