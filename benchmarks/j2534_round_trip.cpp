// What the driver costs a host per diagnostic round trip: a short UDS request (TesterPresent
// to 0x7E0) through PassThruWriteMsgs + PassThruReadMsgs of the driver loaded as a host loads
// it, against the same D-PDU calls made straight on a second copy of the simulated VCI, in one
// run, with zero-latency simulator timing. Three driver copies run side by side: log off, log
// on (with the lines written per round trip counted), and log off with the traffic capture on.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "benchmarks/bench_support.h"
#include "benchmarks/direct_dpdu.h"
#include "common/j2534.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"
#include "tools/passthru/j2534_library.h"

namespace {

[[noreturn]] void Fail(const std::string& what) { BenchFail("j2534_round_trip", what); }

int g_chunkRounds = 300;  // the first argument may change it
constexpr int kPairs = 100;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}
const std::vector<uint8_t> kRequest = {0x00, 0x00, 0x07, 0xE0, 0x3E, 0x00};

// Checked in place on both sides, so that neither pays for a copy of the answer.
bool IsAnswer(const uint8_t* data, size_t length) {
    return length >= 2 && data[length - 2] == 0x7E && data[length - 1] == 0x00;
}

size_t Lines(const std::string& path) {
    std::string text;
    platform::ReadWholeFile(path, &text);
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

struct DriverCopy {
    J2534Library lib;
    j2534::ULONG device = 0;
    j2534::ULONG channel = 0;
    std::string logPath;
    j2534::PASSTHRU_MSG request = {};
    j2534::PASSTHRU_MSG answer = {};

    void Open(bool logging, bool capture = false) {
        std::string dir;
        const std::string driverPath = DriverWithVciSim(
            "j2534_round_trip",
            logging ? "j2534_round_trip_log" : capture ? "j2534_round_trip_capture" : "j2534_round_trip",
            "[General]\nTiming=zero\n",
            std::string("[Logging]\nLogEnabled=") + (logging ? "1" : "0") + "\n[Capture]\nEnabled=" + (capture ? "1" : "0"),
            &dir);
        std::string error;
        if (!LoadJ2534Library(driverPath, &lib, &error)) Fail(error);
        if (lib.Open(nullptr, &device) != 0 || lib.Connect(device, j2534::ISO15765, 0, 500000, &channel) != 0)
            Fail("open and connect: " + lib.LastError());
        logPath = JoinPath(JoinPath(dir, "Logs"), "Orvex_J2534.log");
        request.ProtocolID = j2534::ISO15765;
        request.TxFlags = j2534::ISO15765_FRAME_PAD;
        request.DataSize = static_cast<uint32_t>(kRequest.size());
        std::memcpy(request.Data, kRequest.data(), kRequest.size());
    }
    double RoundTripsUs(int rounds) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < rounds; ++i) {
            j2534::ULONG n = 1;
            if (lib.WriteMsgs(channel, &request, &n, 1000) != 0) Fail("PassThruWriteMsgs: " + lib.LastError());
            n = 1;
            if (lib.ReadMsgs(channel, &answer, &n, 1000) != 0 || n != 1 ||
                !IsAnswer(answer.Data, answer.DataSize))
                Fail("PassThruReadMsgs: " + lib.LastError());
        }
        return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / rounds;
    }
    void Close() {
        lib.Close(device);
        UnloadJ2534Library(&lib);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) g_chunkRounds = std::max(1, std::atoi(argv[1]));
    const std::string dir = MakeScenarioDir("j2534_round_trip_direct");
    const std::string suffix = platform::SharedLibrarySuffix();
    const std::string directPath = JoinPath(dir, "VciSimDirect" + suffix);
    if (!CopyFileTo(JoinPath(TestBinDir(), "VciSim" + suffix), directPath) ||
        !platform::WriteWholeFile(JoinPath(dir, "VciSim.ini"), "[General]\nTiming=zero\n"))
        Fail("cannot prepare " + dir);
    DirectDpduLink* direct = OpenDirectDpduLink(directPath, 0x300B0001);
    DriverCopy quiet, logged, captured;
    quiet.Open(false);
    logged.Open(true);
    captured.Open(false, true);

    // Lines are counted over a few round trips, before the log grows big enough to rotate.
    const size_t linesBefore = Lines(logged.logPath);
    logged.RoundTripsUs(100);
    const double linesPerRound = double(Lines(logged.logPath) - linesBefore) / 100;

    // Each driver chunk is set against the direct chunks just before and after it: the machine's
    // speed drifts over seconds, and the median of these ratios does not follow it.
    double directUs = 1e9, quietUs = 1e9, loggedUs = 1e9, capturedUs = 1e9;
    std::vector<double> quietRatios, loggedRatios, capturedRatios;
    auto directChunk = [&] {
        const double us = DirectDpduRoundTripUs(direct, kRequest, &IsAnswer, g_chunkRounds);
        directUs = std::min(directUs, us);
        return us;
    };
    double before = directChunk();
    auto paired = [&](double driverUs, double* fastest, std::vector<double>* ratios) {
        *fastest = std::min(*fastest, driverUs);
        const double after = directChunk();
        ratios->push_back(2 * driverUs / (before + after));
        before = after;
    };
    for (int pair = 0; pair < kPairs; ++pair) {
        paired(quiet.RoundTripsUs(g_chunkRounds), &quietUs, &quietRatios);
        paired(captured.RoundTripsUs(g_chunkRounds), &capturedUs, &capturedRatios);
        if (pair % 4 == 0) paired(logged.RoundTripsUs(g_chunkRounds), &loggedUs, &loggedRatios);
    }
    quiet.Close();
    logged.Close();
    captured.Close();
    CloseDirectDpduLink(direct);

    std::printf("round trip of 3E 00 on ISO 15765, zero-latency simulator, chunks of %d; fastest chunk of each, and\n"
                "the median ratio of a driver chunk to the direct chunks around it\n", g_chunkRounds);
    std::printf("direct D-PDU calls:             %8.2f us\n", directUs);
    std::printf("J2534 through driver, log off:  %8.2f us  (%.2fx direct)\n", quietUs, Median(quietRatios));
    std::printf("J2534 through driver, log on:   %8.2f us  (%.2fx direct), %.1f lines per round trip, %.1f us per line\n",
                loggedUs, Median(loggedRatios), linesPerRound,
                linesPerRound > 0 ? (loggedUs - quietUs) / linesPerRound : 0.0);
    std::printf("J2534 through driver, capture:  %8.2f us  (%.2fx direct), %+.2f us against log off\n", capturedUs,
                Median(capturedRatios), capturedUs - quietUs);
    return 0;
}
