// The ignition state reported to hosts, and its source: [Ignition] ForceIgnitionOn, which the
// control panel writes while a host runs.
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "driver/bench/bench.h"
#include "driver/config/driver_config.h"
#include "driver/log/log.h"
#include "driver/config/module_identity.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kNothingLogged = 0xFFFFFFFFu;
constexpr uint32_t kRepeatLogMs = 1000;

struct Ignition {
    std::atomic<uint32_t> state{1};
    std::atomic<bool> configured{true};
    // Under logLock: what the two log lines last said, so that each is written on a change (and
    // the query's line also once a second).
    std::mutex logLock;
    uint32_t lastLogged = kNothingLogged;
    uint32_t lastLogTick = 0;
    uint32_t iniLastLogged = kNothingLogged;
};
Ignition g_ignition;

// The first 0 or 1 among the candidates, or -1; *from names its file.
int ForceIgnitionOn(const std::string& hostDir, std::string* from) {
    std::vector<std::string> candidates;
    if (!hostDir.empty())
        for (const char* name : {"Orvex_J2534.ini", "TRX4820_J2534.ini", "TVN_J2534.ini"})
            candidates.push_back(platform::JoinDir(hostDir, name));
    if (!g_config.IniPath.empty()) candidates.push_back(g_config.IniPath);
    for (const std::string& path : candidates) {
        const platform::FileInfo info = platform::GetFileInfo(path);
        if (!info.exists || info.isDirectory) continue;
        platform::ProfileFlush(path);  // another process (the control panel) writes it
        const int value = platform::ProfileGetInt("Ignition", "ForceIgnitionOn", -1, path);
        if (value == 0 || value == 1) {
            *from = path;
            return value;
        }
    }
    return -1;
}

}  // namespace

void ResetIgnitionState(const DriverConfig& cfg) {
    g_ignition.state = cfg.IgnitionOn ? 1u : 0u;
    g_ignition.configured = cfg.Ignition.IgnitionState;
    std::lock_guard<std::mutex> lock(g_ignition.logLock);
    g_ignition.lastLogged = kNothingLogged;
    g_ignition.lastLogTick = 0;
    g_ignition.iniLastLogged = kNothingLogged;
}

void RefreshIgnitionFromIni() { RefreshIgnitionFromIniIn(platform::WithoutLastComponent(platform::HostExecutablePath())); }

void RefreshIgnitionFromIniIn(const std::string& hostDir) {
    std::string from;
    const int value = ForceIgnitionOn(hostDir, &from);
    if (value < 0) {
        g_ignition.configured = g_ignition.state != 0;
        return;
    }
    g_ignition.configured = value == 1;
    g_ignition.state = static_cast<uint32_t>(value);
    std::lock_guard<std::mutex> lock(g_ignition.logLock);
    if (g_ignition.iniLastLogged == static_cast<uint32_t>(value)) return;
    g_ignition.iniLastLogged = static_cast<uint32_t>(value);
    WriteLogLine(std::string("Ignition state updated from INI ForceIgnitionOn: ") + (value ? "ON" : "OFF") +
                 " ini=" + from);
}

uint32_t IgnitionSense() {
    RefreshIgnitionFromIni();
    if (g_ignition.configured) g_ignition.state = 1;
    const uint32_t state = g_ignition.state;
    g_ignition.configured = state != 0;
    const uint32_t now = platform::TickCount32();
    std::lock_guard<std::mutex> lock(g_ignition.logLock);
    if (state != g_ignition.lastLogged || now - g_ignition.lastLogTick > kRepeatLogMs) {
        g_ignition.lastLogged = state;
        g_ignition.lastLogTick = now;
        WriteLogLine(state ? "PassThruIoctl IGNITION_SENSE -> 1" : "PassThruIoctl IGNITION_SENSE -> 0");
    }
    return state;
}

uint32_t IgnitionConfigValue() {
    RefreshIgnitionFromIni();
    const uint32_t value = g_ignition.configured ? 1u : 0u;
    g_ignition.state = value;
    return value;
}

uint32_t IgnitionState() { return g_ignition.state; }
