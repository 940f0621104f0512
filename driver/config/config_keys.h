// The INI file's keys: which key of which section sets which field of DriverConfig, with the
// aliases each key is also known by.
#pragma once

#include <string>
#include <vector>

#include "driver/config/driver_config.h"

// One load in progress: the record being filled and the log lines held for later.
struct ConfigLoad {
    DriverConfig& c;
    std::vector<std::string>& lines;
    // Cut like a formatted log line, so that an over-long INI value cannot flood the log.
    void Log(const std::string& line) { lines.push_back(line.substr(0, 4095)); }
    void Fatal(const std::string& line) {
        Log(line);
        c.ConfigFatal = true;
    }
};

// One Key=Value of a [Section]; unknown sections and keys are ignored. Sections and keys are
// compared without regard to case.
void ApplyConfigKey(ConfigLoad& load, const std::string& section, const std::string& key, const std::string& value);
