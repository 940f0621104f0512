#include "driver/bench/bench.h"

#include <cstdio>

#include "driver/config/driver_config.h"

void ApplyBenchSettings(DriverConfig& cfg, std::vector<std::string>& lines) {
    if (cfg.Bench.BenchEnabled) {
        cfg.BatteryConfig.AlwaysOverride = true;
        cfg.Ignition.EnableOverride = true;
        cfg.Ignition.IgnitionState = true;
        cfg.IgnitionOn = true;
        uint32_t mv = cfg.BatteryConfig.DefaultMilliVolts;
        if (mv < cfg.BatteryConfig.MinValid) mv = cfg.BatteryConfig.MinValid;
        if (mv > cfg.BatteryConfig.MaxValid) mv = cfg.BatteryConfig.MaxValid;
        cfg.FakeVBattMilliVolts = mv;
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
