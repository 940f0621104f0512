// A generic OBD-II scan tool through the driver and the simulated VCI: the functional requests
// of SAE J1979 on 11-bit and 29-bit identifiers, every ECU answering on its own response id.
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/traffic_fixture.h"

namespace {

using Answers = std::vector<std::pair<uint32_t, std::string>>;  // response id, answer (hex)

std::string HexOf(const Bytes& b, size_t from) {
    std::string s;
    char t[4];
    for (size_t i = from; i < b.size(); ++i) {
        std::snprintf(t, sizeof t, i > from ? " %02X" : "%02X", b[i]);
        s += t;
    }
    return s;
}

Bytes IdBytes(j2534::ULONG id) { return {uint8_t(id >> 24), uint8_t(id >> 16), uint8_t(id >> 8), uint8_t(id)}; }

const std::string kObdVin = "49 02 01 57 56 53 49 4D 30 30 30 30 30 30 30 30 30 30 30 31";

class Obd : public TrafficTest {
protected:
    // As a scan tool sets up a channel: a flow-control filter per ECU it may find, then empty
    // buffers.
    uint32_t ScanChannel(uint32_t flags, const std::vector<std::pair<uint32_t, uint32_t>>& requestResponse) {
        uint32_t ch = Connect(j2534::ISO15765, flags);
        for (const auto& ids : requestResponse) {
            j2534::PASSTHRU_MSG mask = MakeMsg(j2534::ISO15765, IdBytes(0x1FFFFFFF), 0);
            j2534::PASSTHRU_MSG pattern = MakeMsg(j2534::ISO15765, IdBytes(ids.second), 0);
            j2534::PASSTHRU_MSG flow = MakeMsg(j2534::ISO15765, IdBytes(ids.first), j2534::ISO15765_FRAME_PAD);
            j2534::ULONG id = 0;
            EXPECT_EQ(d.StartMsgFilter(ch, j2534::FLOW_CONTROL_FILTER, &mask, &pattern, &flow, &id), 0);
        }
        EXPECT_EQ(d.Ioctl(ch, j2534::CLEAR_TX_BUFFER, nullptr, nullptr), 0);
        EXPECT_EQ(d.Ioctl(ch, j2534::CLEAR_RX_BUFFER, nullptr, nullptr), 0);
        return ch;
    }
    // Sends the request and reads, one message a call, until a read times out: every answer.
    // The simulated ECUs answer at once, so the others are there soon after the first.
    Answers Ask(uint32_t ch, uint32_t to, const std::string& request) {
        Bytes data = IdBytes(to);
        Bytes q = HexBytes(request);
        data.insert(data.end(), q.begin(), q.end());
        EXPECT_EQ(Write(ch, {MakeMsg(j2534::ISO15765, data, j2534::ISO15765_FRAME_PAD)}), 0) << d.LastError();
        Answers out;
        Bytes m;
        for (uint32_t wait = 1000; Read(ch, &m, wait) == 0; wait = 100)
            out.push_back({uint32_t(m[0]) << 24 | uint32_t(m[1]) << 16 | uint32_t(m[2]) << 8 | m[3], HexOf(m, 4)});
        return out;
    }
};

}  // namespace

TEST_F(Obd, ElevenBitScanFindsEngineAndTransmission) {
    Start("");
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (uint32_t i = 0; i < 8; ++i) pairs.push_back({0x7E0 + i, 0x7E8 + i});
    const uint32_t ch = ScanChannel(0, pairs);

    EXPECT_EQ(Ask(ch, 0x7DF, "01 00"), (Answers{{0x7E8, "41 00 98 1A 80 11"}, {0x7E9, "41 00 80 08 00 00"}}));
    EXPECT_EQ(Ask(ch, 0x7DF, "09 02"), (Answers{{0x7E8, kObdVin}, {0x7E9, kObdVin}}));
    EXPECT_EQ(Ask(ch, 0x7DF, "01 01"), (Answers{{0x7E8, "41 01 82 07 65 00"}, {0x7E9, "41 01 81 04 00 00"}}));
    EXPECT_EQ(Ask(ch, 0x7DF, "03"), (Answers{{0x7E8, "43 02 01 23 C1 41"}, {0x7E9, "43 01 07 00"}}));
    const Answers speed = Ask(ch, 0x7DF, "01 0C");  // the transmission has no engine speed: silence
    ASSERT_EQ(speed.size(), 1u);
    EXPECT_EQ(speed[0].first, 0x7E8u);
    EXPECT_EQ(Ask(ch, 0x7DF, "04"), (Answers{{0x7E8, "44"}, {0x7E9, "44"}}));
    EXPECT_EQ(Ask(ch, 0x7DF, "03"), (Answers{{0x7E8, "43 00"}, {0x7E9, "43 00"}}));
    EXPECT_EQ(Ask(ch, 0x7E1, "01 0C"), (Answers{{0x7E9, "7F 01 12"}}));  // not in the transmission's subset

    // The engine speed moves with the simulator's clock, within an engine's range.
    std::vector<std::string> rpm;
    for (int i = 0; i < 3; ++i) {
        if (i) std::this_thread::sleep_for(std::chrono::milliseconds(150));
        Answers a = Ask(ch, 0x7E0, "01 0C");
        ASSERT_EQ(a.size(), 1u);
        ASSERT_EQ(a[0].second.substr(0, 5), "41 0C");
        const Bytes b = HexBytes(a[0].second);
        const unsigned value = (unsigned(b[2]) << 8 | b[3]) / 4;
        EXPECT_GE(value, 760u);
        EXPECT_LE(value, 2700u);
        rpm.push_back(a[0].second);
    }
    EXPECT_FALSE(rpm[0] == rpm[1] && rpm[1] == rpm[2]) << rpm[0];
}

TEST_F(Obd, TwentyNineBitScanFindsTheOtherPair) {
    Start("");
    const uint32_t ch = ScanChannel(j2534::CAN_29BIT_ID, {{0x18DA10F1, 0x18DAF110}, {0x18DA18F1, 0x18DAF118}});
    EXPECT_EQ(Ask(ch, 0x18DB33F1, "01 00"),
              (Answers{{0x18DAF110, "41 00 98 1A 80 11"}, {0x18DAF118, "41 00 80 08 00 00"}}));
    EXPECT_EQ(Ask(ch, 0x18DB33F1, "09 02"), (Answers{{0x18DAF110, kObdVin}, {0x18DAF118, kObdVin}}));
    EXPECT_EQ(Ask(ch, 0x18DA10F1, "01 0A"), (Answers{{0x18DAF110, "7F 01 12"}}));
    EXPECT_TRUE(Ask(ch, 0x18DB33F1, "01 0A").empty());  // functional: no answer at all
}
