// What the driver's D-PDU backend adds to one diagnostic round trip. The same UDS request
// (TesterPresent on 0x7E0) goes N times through Dpdu_Send + Dpdu_Receive, and N times straight
// through PDUStartComPrimitive + PDUGetEventItem on a second copy of the simulated VCI, in one
// run, with the simulator's zero-latency timing so that only software cost is left. Prints the
// time per round trip of each and their ratio, with the driver log off and on.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "benchmarks/bench_support.h"
#include "benchmarks/direct_dpdu.h"
#include "driver/config/driver_config.h"
#include "driver/dpdu/dpdu_backend.h"
#include "driver/log/log.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {

[[noreturn]] void Fail(const std::string& what) { BenchFail("backend_round_trip", what); }

constexpr int kChunkRounds = 1000;
const uint8_t kRequest[] = {0x00, 0x00, 0x07, 0xE0, 0x3E, 0x00};

using Clock = std::chrono::steady_clock;

// Checked in place on both sides, so that neither pays for a copy of the answer.
bool IsAnswer(const uint8_t* data, size_t length) {
    return length >= 2 && data[length - 2] == 0x7E && data[length - 1] == 0x00;
}

// Microseconds per round trip through the backend on its link.
double ThroughBackend(uint32_t linkId, const std::string& logPath, bool logging, int rounds) {
    SetLogSettings({logging, logPath, "", ""});
    const DpduSendMode mode;
    DpduPayload answer;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        const DpduResult sent = Dpdu_Send(linkId, kRequest, sizeof kRequest, 1000, mode);
        if (!sent.ok()) Fail("Dpdu_Send: " + sent.text);
        const DpduResult received = Dpdu_Receive(linkId, &answer, 1000);
        if (!received.ok() || !IsAnswer(answer.bytes, answer.kept()))
            Fail("Dpdu_Receive: " + received.text);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
}

}  // namespace

int main() {
    const std::string dir = MakeScenarioDir("round_trip");
    const std::string suffix = platform::SharedLibrarySuffix();
    const std::string simulator = JoinPath(TestBinDir(), "VciSim" + suffix);
    // Two copies: the backend's and the direct caller's, each with its own simulator state.
    if (!CopyFileTo(simulator, JoinPath(dir, "VciSim" + suffix)) ||
        !CopyFileTo(simulator, JoinPath(dir, "VciSimDirect" + suffix)) ||
        !platform::WriteWholeFile(JoinPath(dir, "VciSim.ini"), "[General]\nTiming=zero\nTraceEmptyPolls=0\n"))
        Fail("cannot prepare " + dir);

    const uint32_t resourceId = 0x300C0001;  // the Orvex family's ISO 15765 resource
    DirectDpduLink* direct = OpenDirectDpduLink(JoinPath(dir, "VciSimDirect" + suffix), resourceId);
    const std::string logPath = JoinPath(dir, "driver.log");
    SetLogSettings({true, logPath, "", ""});
    g_config.BackendTypeSet = true;
    g_config.BackendTypeName = "Orvex";
    g_config.DpduSettings.DllName = "VciSim" + suffix;
    g_config.DpduSettings.DllPath = dir;
    g_config.DpduLibraryPath = JoinPath(dir, g_config.DpduSettings.DllName);
    uint32_t moduleId = 0, linkId = 0;
    DpduResult setUp = Dpdu_Init();
    if (setUp.ok()) setUp = Dpdu_OpenModule(&moduleId);
    if (setUp.ok()) setUp = Dpdu_OpenLink(moduleId, "ISO15765", 6, &linkId);
    if (!setUp.ok()) Fail("backend set-up: " + setUp.text);

    const std::vector<uint8_t> request(kRequest, kRequest + sizeof kRequest);
    double directUs = 1e9, quietUs = 1e9, loggedUs = 1e9;
    for (int chunk = 0; chunk < kChunks; ++chunk) {
        directUs = std::min(directUs, DirectDpduRoundTripUs(direct, request, &IsAnswer, kChunkRounds));
        quietUs = std::min(quietUs, ThroughBackend(linkId, logPath, false, kChunkRounds));
        loggedUs = std::min(loggedUs, ThroughBackend(linkId, logPath, true, kChunkRounds / 4));
    }
    Dpdu_CloseLink(linkId);
    Dpdu_CloseModule(moduleId);
    Dpdu_Shutdown();
    CloseDirectDpduLink(direct);
    std::printf("round trips through the backend, zero-latency simulator, fastest of %d chunks of %d\n", kChunks,
                kChunkRounds);
    std::printf("direct D-PDU calls:        %8.2f us\n", directUs);
    std::printf("driver backend, log off:   %8.2f us  (%.2fx direct)\n", quietUs, quietUs / directUs);
    std::printf("driver backend, log on:    %8.2f us  (%.2fx direct)\n", loggedUs, loggedUs / directUs);
    return 0;
}
