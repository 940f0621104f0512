// A whole host session with the simulated VCI failing it at each of the session's D-PDU calls in
// turn: a crash inside the call, an error code, and the loss of the VCI from that call on. Every
// run ends with J2534 codes and texts within its time, hands every D-PDU item back, and a fresh
// session with the same driver afterwards works.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/driver_under_test.h"
#include "tests/support/host_session.h"
#include "tests/support/messages.h"
#include "tests/support/temp_dir.h"

namespace {

enum class Fault { Crash, Error, LostVci };

const char* Name(Fault f) {
    switch (f) {
        case Fault::Crash: return "crash";
        case Fault::Error: return "error";
        default: return "lost VCI";
    }
}

// A run's own waits (reads and writes, the comm-lost back-off, the module and shutdown pauses,
// a busy module's retry) stay well below this; anything longer is a hang.
#if defined(_WIN32)
constexpr int kWatchdogSeconds = 40;  // Wine on an emulated processor
#else
constexpr int kWatchdogSeconds = 15;
#endif
constexpr uint32_t kReadTimeoutMs = 100;

// Under Wine every run costs seconds: each fault kind takes every third call number, each kind
// another third, so that every call still meets one fault.
#if defined(_WIN32)
constexpr size_t kStride = 3;
#else
constexpr size_t kStride = 1;
#endif

// The session on a thread of its own, so that its last-error texts are its own; a session that
// outlives the watchdog stops the whole test program with a message.
HostSession RunWatched(const J2534Functions& f, const std::string& what) {
    HostSession s;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread t([&] {
        HostSession result = RunHostSession(f, kReadTimeoutMs);
        std::lock_guard<std::mutex> lock(m);
        s = result;
        done = true;
        cv.notify_one();
    });
    {
        std::unique_lock<std::mutex> lock(m);
        if (!cv.wait_for(lock, std::chrono::seconds(kWatchdogSeconds), [&] { return done; })) {
            std::fprintf(stderr, "%s: the session still runs after %d s\n", what.c_str(), kWatchdogSeconds);
            std::fflush(stderr);
            std::abort();
        }
    }
    t.join();
    return s;
}

class FaultSweep : public ::testing::TestWithParam<Fault> {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadDriverWithVciSim(&d_, "fault_sweep", "Orvex_J2534", kQuickProbeIni, nullptr));
    }
    void TearDown() override { UnloadDriverCopy(&d_); }

    // Writes the simulator's scenario: the trace into traceName, and the fault lines.
    void Scenario(const std::string& traceName, const std::string& faults) {
        platform::RemoveFile(JoinPath(d_.dir, traceName));
        platform::WriteWholeFile(JoinPath(d_.dir, "VciSim.ini"),
                                 "[General]\nTrace=" + traceName + "\nTraceEmptyPolls=1\n[Faults]\n" + faults);
    }
    std::string TraceOf(const std::string& traceName) const { return ReadFileText(JoinPath(d_.dir, traceName)); }

    DriverUnderTest d_;
};

}  // namespace

TEST_P(FaultSweep, EveryCallOfASession) {
    const Fault fault = GetParam();
    Scenario("reference.txt", "");
    HostSession reference = RunWatched(d_, "reference session");
    ASSERT_EQ(SessionFailure(reference), "");
    const std::vector<std::string> calls = CalledFunctions(TraceOf("reference.txt"));
    ASSERT_GT(calls.size(), 20u);

    std::map<std::string, int> seen;
    size_t runs = 0;
    const size_t offset = static_cast<size_t>(fault) % kStride;
    for (size_t i = 0; i < calls.size(); ++i) {
        const std::string& fn = calls[i];
        const int nth = ++seen[fn];
        // The loss can only start after a call: "after 0 calls" means never.
        if (i % kStride != offset || (fault == Fault::LostVci && i == 0)) continue;
        std::string line;
        if (fault == Fault::Crash) line = "Crash=" + fn + "@" + std::to_string(nth);
        if (fault == Fault::Error) line = "Error=" + fn + "@" + std::to_string(nth) + "=0x01";
        if (fault == Fault::LostVci) line = "LoseVciAfterCalls=" + std::to_string(i);
        const std::string what = std::string(Name(fault)) + " at call " + std::to_string(i + 1) + " (" + fn + " #" +
                                 std::to_string(nth) + ")";
        SCOPED_TRACE(what);
        ++runs;

        // Each run starts from the driver's state of the reference session, so that its call
        // numbers are the reference's.
        ASSERT_TRUE(ReloadDriverCopy(&d_));
        const std::string traceName = "run" + std::to_string(i + 1) + ".txt";
        Scenario(traceName, line + "\n");
        const HostSession run = RunWatched(d_, what);
        EXPECT_EQ(FaultedSessionFailure(run), "");
        // A failed PDUDestroyItem leaves its item with the VCI; nothing else may stay.
        const std::vector<std::string> live = LiveItems(TraceOf(traceName));
        EXPECT_LE(live.size(), fault != Fault::LostVci && fn == "PDUDestroyItem" ? 1u : 0u)
            << ::testing::PrintToString(live);

        // The VCI library must have been let go: the fresh session loads it again.
        Scenario("fresh.txt", "");
        const HostSession fresh = RunWatched(d_, what + ", then a fresh session");
        EXPECT_EQ(SessionFailure(fresh), "");
        const std::string freshTrace = TraceOf("fresh.txt");
        EXPECT_EQ(CountOf(freshTrace, "PDUConstruct option="), 1u);
        EXPECT_EQ(LiveItems(freshTrace), std::vector<std::string>());
        if (HasFailure()) break;
    }
    std::printf("%s: %zu runs over %zu calls\n", Name(fault), runs, calls.size());
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultSweep, ::testing::Values(Fault::Crash, Fault::Error, Fault::LostVci),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                             return info.param == Fault::Crash ? "Crash" : info.param == Fault::Error ? "Error" : "LostVci";
                         });
