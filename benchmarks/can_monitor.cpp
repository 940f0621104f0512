// A bus monitor as hosts write one: a raw CAN channel at 500 kbit/s under 100 % load from the
// simulated VCI's other nodes (back-to-back 8-byte frames, 3,816 a second, its receive queue
// bounded at 1,000 frames) for a while (10 s unless a number of seconds is given), read by three
// host loops:
//   a  N = 100, Timeout 0, a 10 ms pause after each read
//   b  N = 1, Timeout 0, no pause
//   c  N = 100, Timeout 10
// Per loop: frames the VCI sent, frames the host got, frames the VCI dropped from its full queue,
// frames still on their way when the channel closed, gaps and duplicates in the frames' sequence
// numbers, and the host thread's CPU time per frame.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "benchmarks/bench_support.h"
#include "platform/platform.h"
#include "tools/passthru/j2534_library.h"
#include "vcisim/traffic_counts.h"

namespace {

[[noreturn]] void Fail(const std::string& what) { BenchFail("can_monitor", what); }

struct Loop {
    const char* name;
    uint32_t count;
    uint32_t timeoutMs;
    uint32_t pauseMs;
};

struct Result {
    uint64_t sent = 0, got = 0, dropped = 0, left = 0, gaps = 0, duplicates = 0, cpuUs = 0;
};

// Sequence bookkeeping of the frames a host got.
struct Sequence {
    bool started = false;
    uint32_t last = 0;
    Result* r;

    void Take(const j2534::PASSTHRU_MSG& m) {
        if (m.DataSize < 8) return;
        const uint32_t seq = (uint32_t(m.Data[4]) << 24) | (uint32_t(m.Data[5]) << 16) | (uint32_t(m.Data[6]) << 8) |
                             uint32_t(m.Data[7]);
        ++r->got;
        if (started && seq <= last) {
            ++r->duplicates;
            return;
        }
        if (started ? seq != last + 1 : seq != 0) ++r->gaps;
        started = true;
        last = seq;
    }
};

Result Run(const Loop& loop, uint32_t seconds) {
    std::string dir;
    const std::string driverPath = DriverWithVciSim("can_monitor", std::string("loop_") + loop.name,
                                                    "[General]\nRxQueueSize=1000\n[Traffic]\nRate=bus\n",
                                                    "[Logging]\nLogEnabled=0\n", &dir);
    J2534Library lib;
    std::string error;
    if (!LoadJ2534Library(driverPath, &lib, &error)) Fail(error);
    // The driver's VCI and this one are the same file: one simulator, whose counts it tells.
    void* vciSim = platform::LoadLibraryFile(JoinPath(dir, std::string("VciSim") + platform::SharedLibrarySuffix()));
    if (!vciSim) Fail("cannot load VciSim beside the driver");
    const auto counts = BenchSymbol<VciSimGetTrafficCountsFn>("can_monitor", vciSim, "VciSimGetTrafficCounts");

    j2534::ULONG device = 0, channel = 0;
    if (lib.Open(nullptr, &device) != 0) Fail("PassThruOpen: " + lib.LastError());
    if (lib.Connect(device, j2534::CAN, 0, 500000, &channel) != 0) Fail("PassThruConnect: " + lib.LastError());
    // The first write starts the VCI's receiving, and with it the other nodes' traffic.
    j2534::PASSTHRU_MSG start{};
    start.ProtocolID = j2534::CAN;
    start.DataSize = 5;
    start.Data[2] = 0x07;
    start.Data[3] = 0xFF;
    j2534::ULONG n = 1;
    if (lib.WriteMsgs(channel, &start, &n, 100) != 0) Fail("PassThruWriteMsgs: " + lib.LastError());

    Result r;
    Sequence sequence{false, 0, &r};
    std::vector<j2534::PASSTHRU_MSG> msgs(loop.count);
    const uint64_t cpuStart = platform::ThreadCpuUs();
    const uint64_t end = platform::MonotonicUs() + uint64_t(seconds) * 1000000u;
    while (platform::MonotonicUs() < end) {
        n = loop.count;
        const long rc = lib.ReadMsgs(channel, msgs.data(), &n, loop.timeoutMs);
        if (rc != 0 && rc != j2534::ERR_BUFFER_EMPTY && rc != j2534::ERR_TIMEOUT)
            Fail("PassThruReadMsgs: " + lib.LastError());
        for (j2534::ULONG i = 0; i < n; ++i) sequence.Take(msgs[i]);
        if (loop.pauseMs) platform::SleepMs(loop.pauseMs);
    }
    r.cpuUs = platform::ThreadCpuUs() - cpuStart;
    // What the VCI still holds belongs to the host too; then the traffic ends with the channel.
    for (int reads = 0; reads < 10000; ++reads) {
        n = loop.count;
        if (lib.ReadMsgs(channel, msgs.data(), &n, 0) != 0 || n == 0) break;
        for (j2534::ULONG i = 0; i < n; ++i) sequence.Take(msgs[i]);
    }
    lib.Disconnect(channel);
    uint64_t delivered = 0;
    if (counts(PDU_HANDLE_UNDEF, &r.sent, &delivered, &r.dropped) != 0) Fail("VciSimGetTrafficCounts failed");
    r.left = r.sent - delivered - r.dropped;
    lib.Close(device);
    UnloadJ2534Library(&lib);
    platform::FreeLibraryFile(vciSim);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t seconds = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 10;
    if (seconds == 0) Fail("usage: can_monitor [seconds]");
    std::printf("CAN monitor, 500 kbit/s at 100 %% load, %u s per loop\n", seconds);
    std::printf("%-28s %9s %9s %9s %6s %6s %6s %10s %9s\n", "loop", "sent", "got", "dropped", "left", "gaps",
                "dups", "CPU us/fr", "got %");
    const Loop loops[] = {{"a", 100, 0, 10}, {"b", 1, 0, 0}, {"c", 100, 10, 0}};
    const char* labels[] = {"a  N=100 T=0 + 10 ms pause", "b  N=1 T=0", "c  N=100 T=10"};
    for (size_t i = 0; i < 3; ++i) {
        const Result r = Run(loops[i], seconds);
        const uint64_t due = r.sent - r.left;  // frames that had arrived in the VCI before the end
        std::printf("%-28s %9" PRIu64 " %9" PRIu64 " %9" PRIu64 " %6" PRIu64 " %6" PRIu64 " %6" PRIu64
                    " %10.2f %8.2f%%\n",
                    labels[i], r.sent, r.got, r.dropped, r.left, r.gaps, r.duplicates,
                    r.got ? double(r.cpuUs) / double(r.got) : 0.0, due ? 100.0 * double(r.got) / double(due) : 0.0);
        std::fflush(stdout);
    }
    return 0;
}
