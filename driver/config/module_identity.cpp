#include "driver/config/module_identity.h"

#include "platform/platform.h"

std::string ModuleFullPath() {
    static const std::string path = platform::ThisModulePath();
    return path;
}

std::string ModuleDirectory() { return platform::WithoutLastComponent(ModuleFullPath()); }

std::string ModuleBaseName() {
    const std::string path = ModuleFullPath();
    if (path.empty()) return "Orvex_J2534";
    return platform::StripExtension(platform::LastPathComponent(path));
}
