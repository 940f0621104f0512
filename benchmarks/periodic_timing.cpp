// How evenly the driver's periodic sender keeps its intervals: ten messages every 100 ms and two
// every 10 ms on two CAN channels of the simulated VCI for a while (30 s unless a number of
// seconds is given), with the driver's log off and then on. The gaps between two sends of one
// message are taken from the VCI's own trace (the time each send reached it) and reported as
// percentiles and maximum, with their distance from the interval.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "benchmarks/bench_support.h"
#include "platform/platform.h"
#include "tests/support/messages.h"
#include "tests/support/temp_dir.h"
#include "tools/passthru/j2534_library.h"

namespace {

[[noreturn]] void Fail(const std::string& what) { BenchFail("periodic_timing", what); }

struct Periodic {
    uint32_t channel;  // 0 or 1
    uint16_t canId;
    uint32_t intervalMs;
};

std::vector<Periodic> Messages() {
    std::vector<Periodic> out;
    for (uint16_t i = 0; i < 10; ++i) out.push_back({i % 2u, static_cast<uint16_t>(0x200 + i), 100});
    for (uint16_t i = 0; i < 2; ++i) out.push_back({i, static_cast<uint16_t>(0x300 + i), 10});
    return out;
}

std::string FrameText(uint16_t canId) {
    char text[32];
    std::snprintf(text, sizeof text, "00 00 %02X %02X 11 22", canId >> 8, canId & 0xFF);
    return text;
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

// Runs the messages for the given time; the gaps in ms per interval.
std::map<uint32_t, std::vector<double>> Gaps(const std::string& name, bool log, uint32_t seconds) {
    std::string dir;
    const std::string driverPath =
        DriverWithVciSim("periodic_timing", name, "[General]\nTrace=trace.txt\nTraceEmptyPolls=0\nTraceTimes=1\n",
                         std::string("[Logging]\nLogEnabled=") + (log ? "1" : "0"), &dir);
    J2534Library lib;
    std::string error;
    if (!LoadJ2534Library(driverPath, &lib, &error)) Fail(error);
    j2534::ULONG dev = 0, channels[2] = {};
    if (lib.Open(nullptr, &dev) != 0) Fail("PassThruOpen: " + lib.LastError());
    for (j2534::ULONG& ch : channels)
        if (lib.Connect(dev, j2534::CAN, 0, 500000, &ch) != 0) Fail("PassThruConnect: " + lib.LastError());
    for (const Periodic& p : Messages()) {
        j2534::PASSTHRU_MSG m = MakeMsg(j2534::CAN, HexBytes(FrameText(p.canId)));
        j2534::ULONG id = 0;
        if (lib.StartPeriodicMsg(channels[p.channel], &m, &id, p.intervalMs) != 0)
            Fail("PassThruStartPeriodicMsg: " + lib.LastError());
    }
    platform::SleepMs(seconds * 1000u);
    lib.Close(dev);
    UnloadJ2534Library(&lib);

    const std::string trace = ReadFileText(JoinPath(dir, "trace.txt"));
    const std::vector<std::string> data = SentData(trace);
    const std::vector<uint64_t> times = SentTimes(trace);
    if (data.size() != times.size()) Fail("trace without times");
    std::map<uint32_t, std::vector<double>> gaps;
    for (const Periodic& p : Messages()) {
        const std::string frame = FrameText(p.canId);
        uint64_t last = 0;
        for (size_t i = 0; i < data.size(); ++i) {
            if (data[i] != frame) continue;
            if (last != 0) gaps[p.intervalMs].push_back((times[i] - last) / 1000.0);
            last = times[i];
        }
    }
    return gaps;
}

void Report(const char* title, const std::map<uint32_t, std::vector<double>>& gaps) {
    std::printf("%s\n", title);
    for (const auto& entry : gaps) {
        const std::vector<double>& g = entry.second;
        if (g.empty()) Fail("no sends at " + std::to_string(entry.first) + " ms");
        std::vector<double> error;
        for (double v : g) error.push_back(v - entry.first);
        std::vector<double> distance;
        for (double e : error) distance.push_back(e < 0 ? -e : e);
        std::printf("  %3u ms: %6zu gaps  p50 %7.2f ms  p99 %7.2f ms  max %7.2f ms  min %7.2f ms"
                    "  |error| p50 %5.2f  p99 %5.2f  max %6.2f ms\n",
                    static_cast<unsigned>(entry.first), g.size(), Percentile(g, 0.5), Percentile(g, 0.99),
                    *std::max_element(g.begin(), g.end()), *std::min_element(g.begin(), g.end()),
                    Percentile(distance, 0.5), Percentile(distance, 0.99),
                    *std::max_element(distance.begin(), distance.end()));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t seconds = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 30;
    if (seconds == 0) Fail("usage: periodic_timing [seconds]");
    std::printf("10 periodic messages at 100 ms and 2 at 10 ms on two CAN channels, %u s each run\n",
                static_cast<unsigned>(seconds));
    Report("log off:", Gaps("periodic_log_off", false, seconds));
    Report("log on:", Gaps("periodic_log_on", true, seconds));
    return 0;
}
