// Periodic messages as the simulated VCI sees them: when they go out, on which channel, and that
// nothing goes out once they are stopped, cleared or the host has unloaded the driver.
#include <algorithm>

#include "common/j2534_functions.h"
#include "platform/platform.h"
#include "tests/support/traffic_fixture.h"

namespace {

const char kFrameA[] = "00 00 01 23 AA";
const char kFrameB[] = "00 00 01 24 BB";
const char kMarker[] = "00 00 01 00 00";

class Periodic : public TrafficTest {
protected:
    void StartTimed() { Start("[Logging]\nLogEnabled=0\n", "TraceTimes=1\n"); }

    int32_t StartMsg(j2534::ULONG ch, uint32_t protocol, const std::string& hex, uint32_t intervalMs, j2534::ULONG* id) {
        j2534::PASSTHRU_MSG m = MakeMsg(protocol, HexBytes(hex));
        return d.StartPeriodicMsg(ch, &m, id, intervalMs);
    }
    // Trace times (µs) of the sends whose data contain part.
    std::vector<uint64_t> TimesOf(const std::string& part) const {
        const std::string trace = Trace();
        const std::vector<std::string> data = SentData(trace);
        const std::vector<uint64_t> times = SentTimes(trace);
        std::vector<uint64_t> out;
        for (size_t i = 0; i < data.size() && i < times.size(); ++i)
            if (data[i].find(part) != std::string::npos) out.push_back(times[i]);
        return out;
    }
    size_t SendsOf(const std::string& part) const {
        const std::vector<std::string> data = SentData(Trace());
        return static_cast<size_t>(
            std::count_if(data.begin(), data.end(), [&](const std::string& s) { return s.find(part) != std::string::npos; }));
    }
    // Waits (at most 10 s) until each part has been sent n times.
    bool WaitForSends(std::vector<std::string> parts, size_t n) {
        for (int i = 0; i < 500; ++i) {
            const std::vector<std::string> data = SentData(Trace());
            bool all = true;
            for (const std::string& part : parts)
                all = all && std::count_if(data.begin(), data.end(), [&](const std::string& s) {
                                 return s.find(part) != std::string::npos;
                             }) >= static_cast<long>(n);
            if (all) return true;
            platform::SleepMs(20);
        }
        return false;
    }
    // Sends of part after a pause of several of its intervals: none once it is stopped.
    size_t SendsAfterPause(const std::string& part, uint32_t pauseMs = 150) {
        const size_t before = SendsOf(part);
        platform::SleepMs(pauseMs);
        return SendsOf(part) - before;
    }
};

}  // namespace

TEST_F(Periodic, FirstSendAfterOneIntervalThenEveryInterval) {
    StartTimed();
    const uint32_t ch = Connect(5);
    ASSERT_EQ(Send(ch, 5, kMarker, 0), 0);  // the VCI's time of a send made before the start
    j2534::ULONG id = 0;
    ASSERT_EQ(StartMsg(ch, 5, kFrameA, 50, &id), 0);
    EXPECT_EQ(id, 1u);
    ASSERT_TRUE(WaitForSends({kFrameA}, 6));
    ASSERT_EQ(d.StopPeriodicMsg(ch, id), 0);
    EXPECT_EQ(SendsAfterPause(kFrameA), 0u);

    const std::vector<uint64_t> marker = TimesOf(kMarker), times = TimesOf(kFrameA);
    ASSERT_EQ(marker.size(), 1u);
    // Never before its time: the k-th send at least k + 1 intervals after the start.
    for (size_t k = 0; k < times.size(); ++k) EXPECT_GE(times[k] + 1000, marker[0] + (k + 1) * 50000) << k;
    // And about every interval: a stall on a busy machine moves single sends, not the median gap.
    std::vector<uint64_t> gaps;
    for (size_t k = 1; k < times.size(); ++k) gaps.push_back(times[k] - times[k - 1]);
    std::sort(gaps.begin(), gaps.end());
    EXPECT_LE(gaps[gaps.size() / 2], 75000u);
}

TEST_F(Periodic, SeveralMessagesOnTwoChannelsStoppedAndCleared) {
    Start("");
    const uint32_t can = Connect(5), iso = Connect(6);
    j2534::ULONG a = 0, b = 0, tp = 0;
    ASSERT_EQ(StartMsg(can, 5, kFrameA, 20, &a), 0);
    ASSERT_EQ(StartMsg(can, 5, kFrameB, 30, &b), 0);
    ASSERT_EQ(StartMsg(iso, 6, "00 00 07 E0 3E 80", 25, &tp), 0);  // tester present, no answer wanted
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(tp, 1u);  // ids count per channel
    ASSERT_TRUE(WaitForSends({kFrameA, kFrameB, "3E 80"}, 3));

    EXPECT_EQ(d.StopPeriodicMsg(can, 3), 0x0D);
    EXPECT_EQ(d.StopPeriodicMsg(iso, 2), 0x0D);  // an id of the other channel
    EXPECT_EQ(d.StopPeriodicMsg(99, 1), 0x02);
    ASSERT_EQ(d.StopPeriodicMsg(can, a), 0);
    EXPECT_EQ(d.StopPeriodicMsg(can, a), 0x0D);  // already stopped
    EXPECT_EQ(SendsAfterPause(kFrameA), 0u);
    EXPECT_NE(Log().find("PassThruStartPeriodicMsg: ch=1 id=2 interval=30"), std::string::npos);
    EXPECT_NE(Log().find("PassThruStopPeriodicMsg: ch=1 id=1"), std::string::npos);
    EXPECT_GT(SendsOf(kFrameB), 3u);

    // Clearing before a flash ends the channel's sends; the other channel goes on.
    ASSERT_EQ(d.Ioctl(iso, j2534::CLEAR_PERIODIC_MSGS, nullptr, nullptr), 0);
    EXPECT_EQ(d.LastError(), "OK");
    EXPECT_EQ(SendsAfterPause("3E 80"), 0u);
    EXPECT_EQ(d.StopPeriodicMsg(iso, tp), 0x0D);
    ASSERT_TRUE(WaitForSends({kFrameB}, SendsOf(kFrameB) + 2));
    j2534::ULONG next = 0;
    ASSERT_EQ(StartMsg(iso, 6, "00 00 07 E0 3E 80", 25, &next), 0);
    EXPECT_EQ(next, 2u);  // ids are not reused

    // A disconnect and a close end the rest.
    ASSERT_EQ(d.Disconnect(can), 0);
    EXPECT_EQ(SendsAfterPause(kFrameB), 0u);
    ASSERT_EQ(d.Close(dev), 0);
    dev = 0;
    EXPECT_EQ(SendsAfterPause("3E 80"), 0u);
}

TEST_F(Periodic, BadArguments) {
    Start("");
    const uint32_t ch = Connect(5);
    j2534::ULONG id = 0;
    j2534::PASSTHRU_MSG m = MakeMsg(5, HexBytes(kFrameA));
    EXPECT_EQ(d.StartPeriodicMsg(ch, nullptr, &id, 50), 0x04);
    EXPECT_EQ(d.StartPeriodicMsg(ch, &m, nullptr, 50), 0x04);
    EXPECT_EQ(d.StartPeriodicMsg(ch, &m, &id, 0), 0x0B);
    EXPECT_EQ(d.StartPeriodicMsg(ch + 7, &m, &id, 50), 0x02);
    m.DataSize = 4129;
    EXPECT_EQ(d.StartPeriodicMsg(ch, &m, &id, 50), 0x0A);
    EXPECT_EQ(d.LastError(), "Invalid message: DataSize exceeds buffer");
    m.DataSize = 0xFFFFFFFF;
    EXPECT_EQ(d.StartPeriodicMsg(ch, &m, &id, 50), 0x0A);
    // The longest interval is taken, and its first send lies weeks ahead.
    m.DataSize = 5;
    ASSERT_EQ(d.StartPeriodicMsg(ch, &m, &id, 0xFFFFFFFF), 0);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(SendsAfterPause(kFrameA), 0u);
    EXPECT_EQ(d.StopPeriodicMsg(ch, id), 0);
}

// The host unloads the driver right after closing it, while the sender is ending, and while its
// messages run without a close: on POSIX the unload waits for the sender; on Windows the sender
// keeps the library loaded until it ends (the loader lock forbids waiting for it there), so a
// host that unloads without closing finds its device still open.
TEST(PeriodicUnload, RightAfterCloseAndWhileMessagesRun) {
    DriverUnderTest d;
    ASSERT_TRUE(LoadDriverWithVciSim(&d, "periodic_unload", "Orvex_J2534", kQuickProbeIni + "[Logging]\nLogEnabled=0\n",
                                     "[General]\nTrace=trace.txt\nTraceEmptyPolls=0\n"));
    const std::string path = JoinPath(d.dir, std::string("Orvex_J2534") + platform::SharedLibrarySuffix());
    auto sends = [&] { return SentData(ReadFileText(JoinPath(d.dir, "trace.txt"))).size(); };
    auto startSending = [&](DriverUnderTest& drv) {
        j2534::ULONG dev = 0, ch = 0, id = 0;
        ASSERT_EQ(drv.Open(nullptr, &dev), 0);
        ASSERT_EQ(drv.Connect(dev, 5, 0, 500000, &ch), 0);
        j2534::PASSTHRU_MSG m = MakeMsg(5, HexBytes(kFrameA));
        ASSERT_EQ(drv.StartPeriodicMsg(ch, &m, &id, 10), 0);
        const size_t before = sends();
        for (int i = 0; i < 300 && sends() < before + 3; ++i) platform::SleepMs(10);
    };
    auto load = [&](DriverUnderTest& drv) {
        drv.handle = platform::LoadLibraryFile(path);
        ASSERT_NE(drv.handle, nullptr);
        ASSERT_TRUE(BindJ2534Functions([&](const char* n) { return platform::GetLibrarySymbol(drv.handle, n); }, &drv));
    };
    startSending(d);
    EXPECT_EQ(d.Close(0), 0);
    UnloadDriverCopy(&d);

    DriverUnderTest again;
    load(again);
    startSending(again);
    UnloadDriverCopy(&again);
    const size_t atUnload = sends();
    DriverUnderTest third;
    j2534::ULONG dev = 0;
#if defined(_WIN32)
    for (int i = 0; i < 300 && sends() == atUnload; ++i) platform::SleepMs(10);
    EXPECT_GT(sends(), atUnload);
    load(third);
    EXPECT_EQ(third.Open(nullptr, &dev), 0x0E);
    EXPECT_EQ(third.Close(1), 0);
#else
    platform::SleepMs(100);  // a sender left running would crash in the unmapped library now
    EXPECT_EQ(sends(), atUnload);
    load(third);
    EXPECT_EQ(third.Open(nullptr, &dev), 0);
    EXPECT_EQ(third.Close(dev), 0);
#endif
    UnloadDriverCopy(&third);
}
