// Bench and NoEcu modes and the ignition state: what the modes force once the configuration has
// been read, the ignition state that hosts query (re-read from the INI files that the control
// panel writes), and the battery voltage reported when the VCI cannot give one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DriverConfig;

// Run on a freshly loaded configuration before it is published: bench mode fakes battery
// voltage and ignition; NoEcu mode is announced. Log lines are appended to lines.
void ApplyBenchSettings(DriverConfig& cfg, std::vector<std::string>& lines);

// ---- Ignition ----------------------------------------------------------------------------
// The process-wide state is read and written without the device lock.

// The state as the loaded configuration starts it: on unless [Ignition] IgnitionState is off.
void ResetIgnitionState(const DriverConfig& cfg);
// [Ignition] ForceIgnitionOn from "Orvex_J2534.ini", "TRX4820_J2534.ini" and "TVN_J2534.ini" in
// the host executable's folder, then from the loaded INI: the first 0 or 1 becomes the state,
// logged when it changes. Without one the state stays.
void RefreshIgnitionFromIni();
// The same with the host's folder given (empty: none).
void RefreshIgnitionFromIniIn(const std::string& hostDir);
// The IGNITION_SENSE ioctl: refreshes and returns the state (1 on, 0 off); logs it when it
// changed or a second has passed since it was last logged.
uint32_t IgnitionSense();
// GET_CONFIG of the ignition parameter: refreshes and returns the configured value, which then
// becomes the state; no log line.
uint32_t IgnitionConfigValue();
// The state as it stands (1 on, 0 off).
uint32_t IgnitionState();

// ---- Battery -----------------------------------------------------------------------------
// READ_VBATT answers from FallbackVbatt without asking the VCI (NoEcu mode of the session, bench
// mode or [BatteryConfig] AlwaysOverride).
bool VbattFromSettings(bool noEcuMode);
// Whether a reading lies within [MinValid, MaxValid].
bool VbattPlausible(uint32_t milliVolts);
// The value reported when the VCI gives none or an implausible one: lastVbatt when plausible,
// else DefaultMilliVolts clamped into [MinValid, MaxValid].
uint32_t FallbackVbatt(uint32_t lastVbatt);
