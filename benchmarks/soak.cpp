// The long soak: 1,000 host sessions (open, connect ISO 15765 and CAN, a filter, a periodic
// message, the VIN and a CAN frame with their answers, disconnect, close) in one process with the
// driver loaded as a host loads it, the simulated VCI beside it. Reports the process's handles,
// threads and memory after the warm-up and at the end against the bounds the short form in the
// tests holds, and the live items the simulated VCI counted. The first argument may change the
// number of sessions.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "benchmarks/bench_support.h"
#include "platform/platform.h"
#include "tests/support/soak.h"
#include "tests/support/temp_dir.h"
#include "tools/passthru/j2534_library.h"

namespace {
[[noreturn]] void Fail(const std::string& what) { BenchFail("soak", what); }

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
    return n;
}
}  // namespace

int main(int argc, char** argv) {
    const int sessions = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (sessions < 20) Fail("at least 20 sessions");
    const std::string dir = MakeScenarioDir("soak_long");
    const std::string suffix = platform::SharedLibrarySuffix();
    const std::string driverPath = JoinPath(dir, "Orvex_J2534" + suffix);
    if (!CopyFileTo(JoinPath(TestBinDir(), "Orvex_J2534" + suffix), driverPath) ||
        !CopyFileTo(JoinPath(TestBinDir(), "VciSim" + suffix), JoinPath(dir, "VciSim" + suffix)) ||
        !platform::WriteWholeFile(JoinPath(dir, "VciSim.ini"), "[General]\nTrace=trace.txt\nTraceEmptyPolls=0\n") ||
        !platform::WriteWholeFile(JoinPath(dir, "Orvex_J2534.ini"),
                                  "[Backend]\nType=Orvex\n[General]\nEnableInstanceLock=0\n[DpduSettings]\n"
                                  "ModuleProbeQuickAttempts=1\nModuleProbeSlowAttempts=0\nModuleProbeReinitAttempts=0\n"
                                  "DllName=VciSim" +
                                      suffix + "\n"))
        Fail("cannot prepare " + dir);
    const std::string aloneDir = JoinPath(dir, "alone");
    platform::CreateOneDirectory(aloneDir);
    if (!CopyFileTo(JoinPath(TestBinDir(), "VciSim" + suffix), JoinPath(aloneDir, "VciSim" + suffix)))
        Fail("cannot prepare " + aloneDir);
    const platform::ProcessResources vciSimCost = VendorLibraryCycleCost(JoinPath(aloneDir, "VciSim" + suffix));
    const platform::ProcessResources driverCost = DriverLibraryCycleCost(driverPath);
    J2534Library lib;
    std::string error;
    if (!LoadJ2534Library(driverPath, &lib, &error)) Fail(error);

    const uint64_t start = platform::MonotonicUs();
    const SoakReport r = RunSoak(lib, 10, sessions, 200);
    const double seconds = double(platform::MonotonicUs() - start) / 1e6;
    if (!r.failure.empty()) std::printf("%s", r.failure.c_str());
    std::printf("%s\n", SoakSummary(r).c_str());
    std::printf("%.1f s, %.0f ms per session\n", seconds, seconds * 1000 / (r.sessions ? r.sessions : 1));
    std::string trace;
    platform::ReadWholeFile(JoinPath(dir, "trace.txt"), &trace);
    std::printf("sessions ended with no live item: %zu of %d; leak lines: %zu\n",
                Count(trace, "PDUDestruct -> 0x0 liveItems=0\n"), r.sessions, Count(trace, "LEAK"));
    const std::string growth = SoakGrowthBeyondBounds(r, vciSimCost);
    std::printf("kept per load and unload: the simulated VCI alone handles %llu, memory %llu bytes; the driver "
                "(opened and closed) handles %llu, memory %llu bytes\n",
                static_cast<unsigned long long>(vciSimCost.handles),
                static_cast<unsigned long long>(vciSimCost.memoryBytes),
                static_cast<unsigned long long>(driverCost.handles),
                static_cast<unsigned long long>(driverCost.memoryBytes));
    std::printf("bounds (handles +%llu, threads +%llu, memory +%llu KiB, each beside what the simulated VCI keeps): "
                "%s\n",
                static_cast<unsigned long long>(kSoakHandleGrowth), static_cast<unsigned long long>(kSoakThreadGrowth),
                static_cast<unsigned long long>(kSoakMemoryGrowth / 1024), growth.empty() ? "held" : growth.c_str());
    UnloadJ2534Library(&lib);
    return r.failure.empty() && growth.empty() ? 0 : 1;
}
