// What the benchmark programs share: stopping with a message, binding exports by name, and a
// folder with the driver and the simulated VCI.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

[[noreturn]] inline void BenchFail(const char* program, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", program, what.c_str());
    std::exit(1);
}

template <typename Fn>
Fn BenchSymbol(const char* program, void* library, const char* name) {
    void* address = platform::GetLibrarySymbol(library, name);
    if (!address) BenchFail(program, std::string("missing ") + name);
    return reinterpret_cast<Fn>(address);
}

// A fresh folder holding copies of the driver and VciSim with their INI files: VciSim's is
// vciSimIni, the driver's is driverIni between the lines that select the Orvex family and VciSim.
// The driver's path; the folder in *folder when asked.
inline std::string DriverWithVciSim(const char* program, const std::string& scenario, const std::string& vciSimIni,
                                    const std::string& driverIni, std::string* folder = nullptr) {
    const std::string dir = MakeScenarioDir(scenario);
    if (folder) *folder = dir;
    const std::string suffix = platform::SharedLibrarySuffix();
    const std::string driverPath = JoinPath(dir, "Orvex_J2534" + suffix);
    if (!CopyFileTo(JoinPath(TestBinDir(), "Orvex_J2534" + suffix), driverPath) ||
        !CopyFileTo(JoinPath(TestBinDir(), "VciSim" + suffix), JoinPath(dir, "VciSim" + suffix)) ||
        !platform::WriteWholeFile(JoinPath(dir, "VciSim.ini"), vciSimIni) ||
        !platform::WriteWholeFile(JoinPath(dir, "Orvex_J2534.ini"),
                                  "[Backend]\nType=Orvex\n" + driverIni + "\n[DpduSettings]\nDllName=VciSim" + suffix + "\n"))
        BenchFail(program, "cannot prepare " + dir);
    return driverPath;
}
