#include "driver/bench/bench.h"

#include <cstdio>

#include "driver/config/driver_config.h"

namespace {
uint32_t ClampedDefaultMilliVolts(const DriverConfig& cfg) {
    uint32_t mv = cfg.BatteryConfig.DefaultMilliVolts;
    if (mv < cfg.BatteryConfig.MinValid) mv = cfg.BatteryConfig.MinValid;
    if (mv > cfg.BatteryConfig.MaxValid) mv = cfg.BatteryConfig.MaxValid;
    return mv;
}
}  // namespace

void ApplyBenchSettings(DriverConfig& cfg, std::vector<std::string>& lines) {
    if (cfg.Bench.BenchEnabled) {
        cfg.BatteryConfig.AlwaysOverride = true;
        cfg.Ignition.EnableOverride = true;
        cfg.Ignition.IgnitionState = true;
        cfg.IgnitionOn = true;
        cfg.FakeVBattMilliVolts = ClampedDefaultMilliVolts(cfg);
        lines.push_back("Bench mode enabled: faking VBATT/ignition even when no VCI is connected");
    }
    if (cfg.Bench.NoEcuMode) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "NoEcuMode=ON (bench): clean timeouts, no fake ECU responses. Timeout=%lu ms, VBatt=%lu mV",
                      static_cast<unsigned long>(cfg.Bench.NoEcuTimeoutMs),
                      static_cast<unsigned long>(cfg.BatteryConfig.DefaultMilliVolts));
        lines.push_back(line);
    }
}

bool VbattFromSettings(bool noEcuMode) {
    return noEcuMode || g_config.Bench.BenchEnabled || g_config.BatteryConfig.AlwaysOverride;
}

bool VbattPlausible(uint32_t milliVolts) {
    return milliVolts >= g_config.BatteryConfig.MinValid && milliVolts <= g_config.BatteryConfig.MaxValid;
}

uint32_t FallbackVbatt(uint32_t lastVbatt) {
    return VbattPlausible(lastVbatt) ? lastVbatt : ClampedDefaultMilliVolts(g_config);
}
