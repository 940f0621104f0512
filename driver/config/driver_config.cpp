#include "driver/config/driver_config.h"

#include <mutex>

#include "driver/config/log.h"
#include "driver/config/module_identity.h"

DriverConfig g_config;

namespace {
std::once_flag g_loadOnce;

void LoadOnce() {
    g_config.LogFilePath = ResolveLogPath(g_config.Logging.LogPath, g_config.Logging.LogFile, ModuleDirectory(), ModuleBaseName());
}
}  // namespace

void LoadDriverConfig() { std::call_once(g_loadOnce, &LoadOnce); }
