// PassThruReadMsgs as busy hosts use it: one call takes every message the transport already
// holds (up to the count asked for), each stamped in microseconds when it came off its transport.
#include <chrono>
#include <thread>

#include "platform/platform.h"
#include "tests/support/traffic_fixture.h"

namespace {

class ReadMany : public TrafficTest {
protected:
    // Up to n messages in one call; the code, the messages in *msgs.
    int32_t ReadUpTo(uint32_t ch, j2534::ULONG n, uint32_t timeout, std::vector<j2534::PASSTHRU_MSG>* msgs) {
        msgs->assign(n, j2534::PASSTHRU_MSG{});
        const int32_t rc = d.ReadMsgs(ch, msgs->data(), &n, timeout);
        msgs->resize(n);
        return rc;
    }
};

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Microseconds from a to b on the 32-bit wrapping clock of Timestamp.
uint32_t Elapsed(j2534::ULONG a, j2534::ULONG b) { return static_cast<uint32_t>(b - a); }

}  // namespace

TEST_F(ReadMany, WaitingCanFramesComeInOneCallInOrderAndNoneIsLost) {
    Start("[Logging]\nLogEnabled=0\n", "[Traffic]\nRate=500\n");
    const uint32_t ch = Connect(j2534::CAN);
    ASSERT_EQ(Send(ch, j2534::CAN, "00 00 01 23 00", 0), 0);  // starts the other nodes' traffic
    Pause(200);  // about 100 frames wait in the VCI
    std::vector<j2534::PASSTHRU_MSG> got;
    ASSERT_EQ(ReadUpTo(ch, 50, 0, &got), 0) << d.LastError();
    EXPECT_EQ(got.size(), 50u);  // all from one call, none of them waited for
    uint32_t seq = 0;
    j2534::ULONG last = got.empty() ? 0 : got[0].Timestamp;
    while (seq < 150) {
        for (const j2534::PASSTHRU_MSG& m : got) {
            ASSERT_EQ(m.DataSize, 12u);
            ASSERT_EQ(m.Data[7], static_cast<uint8_t>(seq)) << "frame " << seq;
            EXPECT_LT(Elapsed(last, m.Timestamp), 0x80000000u) << "frame " << seq << " goes back in time";
            last = m.Timestamp;
            ++seq;
        }
        if (seq >= 150) break;
        ASSERT_EQ(ReadUpTo(ch, 100, 1000, &got), 0) << d.LastError();
        ASSERT_FALSE(got.empty());
    }
    EXPECT_EQ(d.Disconnect(ch), 0);
}

TEST_F(ReadMany, AnEmptyChannelWaitsOutTheTimeoutOnceAndCountsNothing) {
    Start("");
    const uint32_t ch = Connect(j2534::ISO15765);
    std::vector<j2534::PASSTHRU_MSG> got;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadUpTo(ch, 10, 300, &got), j2534::ERR_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(ReadUpTo(ch, 10, 0, &got), j2534::ERR_BUFFER_EMPTY);
    EXPECT_TRUE(got.empty());
}

TEST_F(ReadMany, AnswersOfIso15765ThroughTheVciAndOfTheDriversOwnIsoTp) {
    for (const char* transport : {"", "[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\nForceRawCan=1\n"}) {
        SCOPED_TRACE(transport);
        Start(transport);
        const uint32_t ch = Connect(j2534::ISO15765);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(Send(ch, j2534::ISO15765, "00 00 07 E0 3E 00"), 0) << d.LastError();
        Pause(300);
        std::vector<j2534::PASSTHRU_MSG> got;
        ASSERT_EQ(ReadUpTo(ch, 10, 1000, &got), 0) << d.LastError();
        ASSERT_EQ(got.size(), 3u);
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(DataOf(got[i]), HexBytes("00 00 07 E8 7E 00")) << i;
            if (i > 0) {
                EXPECT_LT(Elapsed(got[i - 1].Timestamp, got[i].Timestamp), 0x80000000u);
            }
        }
        EXPECT_EQ(ReadUpTo(ch, 10, 0, &got), j2534::ERR_BUFFER_EMPTY);
    }
}

TEST_F(ReadMany, TimestampsAreMicrosecondsOfOneClock) {
    Start("");
    const uint32_t ch = Connect(j2534::ISO15765);
    Bytes data;
    j2534::PASSTHRU_MSG first{}, second{};
    j2534::ULONG n = 1;
    const j2534::ULONG before = j2534::TimestampFromUs(platform::MonotonicUs());
    ASSERT_EQ(Send(ch, j2534::ISO15765, "00 00 07 E0 3E 00"), 0);
    ASSERT_EQ(d.ReadMsgs(ch, &first, &n, 1000), 0);
    Pause(300);
    ASSERT_EQ(Send(ch, j2534::ISO15765, "00 00 07 E0 3E 00"), 0);
    n = 1;
    ASSERT_EQ(d.ReadMsgs(ch, &second, &n, 1000), 0);
    const j2534::ULONG after = j2534::TimestampFromUs(platform::MonotonicUs());
    // The host's clock and the driver's are one: both stamps lie between the host's readings.
    EXPECT_LE(Elapsed(before, first.Timestamp), Elapsed(before, after));
    EXPECT_LE(Elapsed(second.Timestamp, after), Elapsed(before, after));
    // Answers 300 ms apart are 300,000 stamps apart, not 300.
    EXPECT_GE(Elapsed(first.Timestamp, second.Timestamp), 300000u);
    EXPECT_LT(Elapsed(first.Timestamp, second.Timestamp), 60000000u);
}
