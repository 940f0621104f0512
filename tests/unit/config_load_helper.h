// Loads a configuration from INI text as the library at <scenario>/<baseName> would, bench
// settings included.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "driver/bench/bench.h"
#include "driver/config/driver_config.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"

struct LoadedConfig {
    DriverConfig cfg;
    std::vector<std::string> lines;
    std::string dir;
    bool Logged(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
};

// iniText null: no INI file beside the library.
inline LoadedConfig LoadConfigText(const char* iniText, const std::string& baseName = "Orvex_J2534") {
    LoadedConfig r;
    r.dir = MakeScenarioDir("config");
    if (iniText) platform::WriteWholeFile(JoinPath(r.dir, baseName + ".ini"), iniText);
    LoadDriverConfigFrom(JoinPath(r.dir, baseName + platform::SharedLibrarySuffix()), &r.cfg, &r.lines);
    ApplyBenchSettings(r.cfg, r.lines);
    return r;
}

// A complete, valid Orvex header followed by the given text.
inline LoadedConfig LoadOrvexWith(const std::string& body) {
    return LoadConfigText(("[Backend]\nType=Orvex\n[DpduSettings]\nDllName=vendor.dll\n" + body).c_str());
}
