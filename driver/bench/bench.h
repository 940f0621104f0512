// Bench and NoEcu modes: the settings they force once the configuration has been read.
#pragma once

#include <string>
#include <vector>

struct DriverConfig;

// Bench mode fakes battery voltage and ignition; NoEcu mode is announced. Log lines are
// appended to lines.
void ApplyBenchSettings(DriverConfig& cfg, std::vector<std::string>& lines);
