#include "driver/api/config_once.h"

#include <mutex>
#include <string>
#include <vector>

#include "driver/api/device.h"
#include "driver/bench/bench.h"
#include "driver/config/driver_config.h"
#include "driver/log/log.h"
#include "driver/config/module_identity.h"

namespace {
std::once_flag g_loadOnce;
}

void LoadDriverConfig() {
    std::call_once(g_loadOnce, [] {
        DriverConfig loaded;
        std::vector<std::string> lines;
        LoadDriverConfigFrom(ModuleFullPath(), &loaded, &lines);
        ApplyBenchSettings(loaded, lines);
        g_config = loaded;
        SetLogSettings({g_config.Logging.LogEnabled, g_config.LogFilePath, ModuleBaseName(), ModuleDirectory()});
        ResetIgnitionState(g_config);
        {
            std::lock_guard<std::mutex> lock(g_deviceLock);
            StartSessionFromConfigLocked();
        }
        // The lines were held until the log path was known; the log's own switch decides.
        for (const std::string& line : lines) WriteLogLine(line);
    });
}
