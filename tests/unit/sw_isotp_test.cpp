// Software ISO-TP against a scripted ECU on a simulated clock: segmentation, the ECU's flow
// control (block size, separation time, WAIT, OVERFLOW, silence), the 32-bit length form, and
// reassembly of received frames.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "common/big_endian.h"
#include "driver/config/driver_config.h"
#include "driver/api/sw_isotp_channel.h"
#include "driver/iso15765/sw_isotp.h"
#include "platform/platform.h"
#include "tests/support/scoped_log.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Frame {
    uint64_t atUs;
    Bytes bytes;  // CAN id (4 bytes) and data
};

// The bus as the sender sees it: what it sent, when, and the ECU's frames waiting to arrive.
struct ScriptedBus {
    uint64_t nowUs = 5000000;
    std::vector<Frame> sent;
    std::deque<Frame> incoming;
    std::function<void(const Bytes&)> ecu;  // reacts to each frame sent
    bool failSends = false;

    void Reply(uint64_t afterUs, uint32_t id, Bytes data) {
        Bytes f(4);
        WriteBigEndian32(f.data(), id);
        f.insert(f.end(), data.begin(), data.end());
        incoming.push_back({nowUs + afterUs, f});
    }
    // Data bytes of the sent frames (CAN id dropped).
    std::vector<Bytes> SentData() const {
        std::vector<Bytes> out;
        for (const Frame& f : sent) out.emplace_back(f.bytes.begin() + 4, f.bytes.end());
        return out;
    }
};

uint64_t Now(void* c) { return static_cast<ScriptedBus*>(c)->nowUs; }
void Sleep(void* c, uint64_t us) { static_cast<ScriptedBus*>(c)->nowUs += us; }

bool Send(void* c, const uint8_t* frame, uint32_t length, uint32_t, std::string* error) {
    auto* bus = static_cast<ScriptedBus*>(c);
    if (bus->failSends) {
        *error = "link gone";
        return false;
    }
    Bytes f(frame, frame + length);
    bus->sent.push_back({bus->nowUs, f});
    if (bus->ecu) bus->ecu(f);
    return true;
}

IsoTpFrameIn Receive(void* c, uint32_t timeoutMs, std::vector<uint8_t>* frame, std::string*) {
    auto* bus = static_cast<ScriptedBus*>(c);
    const uint64_t deadline = bus->nowUs + uint64_t(timeoutMs) * 1000;
    if (bus->incoming.empty() || bus->incoming.front().atUs > deadline) {
        bus->nowUs = deadline;
        return IsoTpFrameIn::Nothing;
    }
    if (bus->incoming.front().atUs > bus->nowUs) bus->nowUs = bus->incoming.front().atUs;
    *frame = bus->incoming.front().bytes;
    bus->incoming.pop_front();
    return IsoTpFrameIn::Frame;
}

class SwIsoTp : public ::testing::Test {
protected:
    void SetUp() override {
        saved = g_config;
        log_.Off();
        g_config.DasIdPairs.clear();
        g_config.PCMflash.PCMflashEnabled = false;
        clock = {&Now, &Sleep, &bus};
        platform::SetTestClock(&clock);
        io = {&Send, &Receive, &bus};
    }
    void TearDown() override {
        platform::SetTestClock(nullptr);
        g_config = saved;
    }

    // An ECU that answers first frames (and every full block) with this flow control.
    void EcuFlowControl(std::vector<Bytes> answers, uint8_t blockSize, uint64_t delayUs = 2000) {
        auto cfs = std::make_shared<unsigned>(0);
        bus.ecu = [this, answers, blockSize, delayUs, cfs](const Bytes& f) {
            const uint8_t type = f[4] >> 4;
            bool answer = type == 1;
            if (type == 2 && blockSize != 0 && ++*cfs % blockSize == 0) answer = true;
            if (!answer) return;
            uint64_t after = delayUs;
            for (const Bytes& a : answers) {
                bus.Reply(after, 0x7E8, a);
                after += delayUs;
            }
        };
    }

    int32_t SendMessage(const Bytes& payload, std::string* failure = nullptr) {
        std::string ignored;
        return SwIsoTpSend(io, 0x7E0, payload.data(), static_cast<uint32_t>(payload.size()), false, 1000, 0x7E8, false,
                           failure ? failure : &ignored);
    }

    DriverConfig saved;
    ScopedLog log_;
    ScriptedBus bus;
    platform::TestClock clock{};
    IsoTpFrameIo io{};
};

Bytes Counting(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i);
    return b;
}

const Bytes kClearToSend = {0x30, 0x00, 0x00, 0, 0, 0, 0, 0};

}  // namespace

TEST_F(SwIsoTp, SingleFramesAndReadyFrames) {
    ASSERT_EQ(SendMessage(Counting(7)), 0);
    ASSERT_EQ(SendMessage({0x02, 0x10, 0x03, 0, 0, 0, 0, 0}), 0);  // 8 bytes with a PCI: sent as they are
    auto frames = bus.SentData();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], (Bytes{0x07, 0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(frames[1], (Bytes{0x02, 0x10, 0x03, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ReadBigEndian32(bus.sent[0].bytes.data()), 0x7E0u);

    // The CAN id in front of the data names the transmit id.
    const Bytes withId = {0x00, 0x00, 0x07, 0xE1, 0x3E, 0x00};
    ASSERT_EQ(SwIsoTpSend(io, 0x7E0, withId.data(), 6, true, 1000, 0x7E9, false, nullptr), 0);
    EXPECT_EQ(ReadBigEndian32(bus.sent[2].bytes.data()), 0x7E1u);
    EXPECT_EQ(bus.SentData()[2], (Bytes{0x02, 0x3E, 0x00, 0, 0, 0, 0, 0}));
}

TEST_F(SwIsoTp, MultiFrameWaitsForTheEcuAndPacesConsecutiveFrames) {
    EcuFlowControl({kClearToSend}, 0);
    ASSERT_EQ(SendMessage(Counting(20)), 0);
    auto frames = bus.SentData();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], (Bytes{0x10, 0x14, 0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(frames[1], (Bytes{0x21, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(frames[2], (Bytes{0x22, 13, 14, 15, 16, 17, 18, 19}));
    EXPECT_GE(bus.sent[1].atUs, bus.sent[0].atUs + 2000);  // not before the ECU's flow control
    EXPECT_GE(bus.sent[2].atUs - bus.sent[1].atUs, 1000u);

    // An 8-byte message that is no ready frame: first frame and one padded consecutive frame.
    bus.sent.clear();
    ASSERT_EQ(SendMessage({0x50, 1, 2, 3, 4, 5, 6, 7}), 0);
    frames = bus.SentData();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], (Bytes{0x10, 0x08, 0x50, 1, 2, 3, 4, 5}));
    EXPECT_EQ(frames[1], (Bytes{0x21, 6, 7, 0, 0, 0, 0, 0}));
}

TEST_F(SwIsoTp, BlockSizeAndSeparationTimeOfTheEcu) {
    EcuFlowControl({{0x30, 0x02, 20, 0, 0, 0, 0, 0}}, 2);
    ASSERT_EQ(SendMessage(Counting(40)), 0);  // first frame and five consecutive frames
    ASSERT_EQ(bus.sent.size(), 6u);
    for (size_t i = 2; i < bus.sent.size(); ++i)
        EXPECT_GE(bus.sent[i].atUs - bus.sent[i - 1].atUs, 20000u) << i;
    // Each block of two waited for its own flow control: three in all.
    EXPECT_TRUE(bus.incoming.empty());
    EXPECT_EQ(bus.SentData()[5][0], 0x25);

    // Sub-millisecond STmin codes never go below the 1 ms pacing.
    bus.sent.clear();
    EcuFlowControl({{0x30, 0x00, 0xF5, 0, 0, 0, 0, 0}}, 0);
    ASSERT_EQ(SendMessage(Counting(30)), 0);
    for (size_t i = 2; i < bus.sent.size(); ++i) EXPECT_GE(bus.sent[i].atUs - bus.sent[i - 1].atUs, 1000u);
}

TEST_F(SwIsoTp, WaitThenClearToSend) {
    EcuFlowControl({{0x31, 0, 0, 0, 0, 0, 0, 0}, {0x31, 0, 0, 0, 0, 0, 0, 0}, kClearToSend}, 0, 400000);
    ASSERT_EQ(SendMessage(Counting(20)), 0);  // each WAIT restarts the one-second wait
    EXPECT_EQ(bus.sent.size(), 3u);
}

TEST_F(SwIsoTp, FlowControlThatEndsTheMessage) {
    std::string failure;
    EcuFlowControl({{0x32, 0, 0, 0, 0, 0, 0, 0}}, 0);
    EXPECT_EQ(SendMessage(Counting(20), &failure), 0x07);
    EXPECT_EQ(failure, "ISO15765: SW-ISO-TP ECU flow control OVERFLOW (rx=0x7E8)");
    EXPECT_EQ(bus.sent.size(), 1u);  // no consecutive frame after the refusal

    bus.sent.clear();
    bus.ecu = nullptr;
    const uint64_t start = bus.nowUs;
    EXPECT_EQ(SendMessage(Counting(20), &failure), 0x07);
    EXPECT_EQ(failure, "ISO15765: SW-ISO-TP no flow control from the ECU within 1000 ms (rx=0x7E8)");
    EXPECT_GE(bus.nowUs - start, 1000000u);

    EcuFlowControl(std::vector<Bytes>(kIsoTpMaxWaitFrames + 1, Bytes{0x31, 0, 0, 0, 0, 0, 0, 0}), 0);
    EXPECT_EQ(SendMessage(Counting(20), &failure), 0x07);
    EXPECT_EQ(failure, "ISO15765: SW-ISO-TP ECU kept answering WAIT (rx=0x7E8)");

    EcuFlowControl({{0x3F, 0, 0, 0, 0, 0, 0, 0}}, 0);
    EXPECT_EQ(SendMessage(Counting(20), &failure), 0x07);
    EXPECT_EQ(failure, "ISO15765: SW-ISO-TP invalid flow control from the ECU (rx=0x7E8)");

    bus.failSends = true;
    EXPECT_EQ(SendMessage(Counting(3), &failure), 0x07);
    EXPECT_EQ(failure, "");
}

TEST_F(SwIsoTp, FramesOfOtherEcusDuringTheWaitAreSkipped) {
    bus.ecu = [this](const Bytes& f) {
        if (f[4] >> 4 != 1) return;
        Bytes foreign(4);
        WriteBigEndian32(foreign.data(), 0x7E9);
        foreign.insert(foreign.end(), {0x30, 0x00, 0x00});
        bus.incoming.push_back({bus.nowUs + 100, foreign});
        bus.Reply(300, 0x7E8, {0x05, 0x62, 0, 0, 0, 0});  // its own answer, but no flow control
        bus.Reply(500, 0x7E8, kClearToSend);
    };
    ASSERT_EQ(SendMessage(Counting(20)), 0);
    EXPECT_EQ(bus.sent.size(), 3u);
}

TEST_F(SwIsoTp, LengthsOf4096AndMoreUseThe32BitForm) {
    EcuFlowControl({kClearToSend}, 0);
    const Bytes message = Counting(5000);
    ASSERT_EQ(SendMessage(message), 0);
    auto frames = bus.SentData();
    EXPECT_EQ(frames[0], (Bytes{0x10, 0x00, 0x00, 0x00, 0x13, 0x88, 0, 1}));
    ASSERT_EQ(frames.size(), 1u + (4998 + 6) / 7);
    EXPECT_EQ(frames[1], (Bytes{0x21, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(frames[16][0], 0x20);  // the sequence number wraps
    Bytes collected;
    for (size_t i = 1; i < frames.size(); ++i) collected.insert(collected.end(), frames[i].begin() + 1, frames[i].end());
    collected.resize(4998);
    EXPECT_EQ(collected, Bytes(message.begin() + 2, message.end()));

    bus.sent.clear();
    ASSERT_EQ(SendMessage(Counting(4095)), 0);
    EXPECT_EQ(bus.SentData()[0], (Bytes{0x1F, 0xFF, 0, 1, 2, 3, 4, 5}));
}

TEST(SwIsoTpReceive, ReassemblyOfFramesFromTheEcu) {
    IsoTpReassembly ch;
    Bytes message;
    EXPECT_EQ(SwIsoTpOnFrame(ch, Bytes{0x03, 0x62, 0xF1, 0x90, 0xAA}.data(), 5, &message), IsoTpRxAction::Complete);
    EXPECT_EQ(message, (Bytes{0x62, 0xF1, 0x90}));

    const Bytes ff = {0x10, 0x0A, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(SwIsoTpOnFrame(ch, ff.data(), 8, &message), IsoTpRxAction::SendFlowControl);
    EXPECT_EQ(SwIsoTpOnFrame(ch, Bytes{0x21, 7, 8, 9, 10, 0xAA, 0xAA, 0xAA}.data(), 8, &message),
              IsoTpRxAction::Complete);
    EXPECT_EQ(message, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));  // padding cut off
    // A consecutive frame after the message is complete is ignored.
    EXPECT_EQ(SwIsoTpOnFrame(ch, Bytes{0x22, 1, 2}.data(), 3, &message), IsoTpRxAction::None);

    // A wrong sequence number drops the partial message; the next first frame starts afresh.
    SwIsoTpOnFrame(ch, Bytes{0x10, 0x10, 1, 2, 3, 4, 5, 6}.data(), 8, &message);
    EXPECT_EQ(SwIsoTpOnFrame(ch, Bytes{0x23, 7, 8, 9, 10, 11, 12, 13}.data(), 8, &message), IsoTpRxAction::None);
    EXPECT_FALSE(ch.assembling);
    EXPECT_EQ(SwIsoTpOnFrame(ch, Bytes{0x21, 7, 8, 9, 10, 11, 12, 13}.data(), 8, &message), IsoTpRxAction::None);
    EXPECT_EQ(SwIsoTpOnFrame(ch, ff.data(), 8, &message), IsoTpRxAction::SendFlowControl);
    EXPECT_EQ(SwIsoTpOnFrame(ch, Bytes{0x21, 7, 8, 9, 10}.data(), 5, &message), IsoTpRxAction::Complete);
}

TEST(SwIsoTpReceive, FirstFramesOfEveryLength) {
    IsoTpReassembly ch;
    Bytes message;
    // The 32-bit form up to what a J2534 message holds after its CAN id.
    Bytes escape = {0x10, 0x00, 0x00, 0x00, 0x10, 0x1C, 0xEE, 0xEE};  // 4124 bytes
    EXPECT_EQ(SwIsoTpOnFrame(ch, escape.data(), 8, &message), IsoTpRxAction::SendFlowControl);
    EXPECT_EQ(ch.totalLength, 4124u);
    EXPECT_EQ(ch.buffer.size(), 2u);
    uint8_t sn = 1;
    IsoTpRxAction last = IsoTpRxAction::None;
    for (size_t have = 2; have < 4124; have += 7, sn = (sn + 1) & 0x0F) {
        Bytes cf = {static_cast<uint8_t>(0x20 | sn), 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        last = SwIsoTpOnFrame(ch, cf.data(), 8, &message);
    }
    EXPECT_EQ(last, IsoTpRxAction::Complete);
    EXPECT_EQ(message, Bytes(4124, 0xEE));

    // More than that is refused; lengths of a single frame are no first frame.
    escape[5] = 0x1D;
    EXPECT_EQ(SwIsoTpOnFrame(ch, escape.data(), 8, &message), IsoTpRxAction::SendOverflow);
    EXPECT_FALSE(ch.assembling);
    EXPECT_EQ(SwIsoTpOnFrame(ch, Bytes{0x10, 0x05, 1, 2, 3, 4, 5, 0}.data(), 8, &message), IsoTpRxAction::None);
    EXPECT_EQ(SwIsoTpOnFrame(ch, Bytes{0x10, 0x00, 0x01}.data(), 3, &message), IsoTpRxAction::None);  // cut short
    EXPECT_EQ(SwIsoTpOnFrame(ch, Bytes{0x10}.data(), 1, &message), IsoTpRxAction::None);
    // Single frames that announce nothing or more than they hold.
    EXPECT_EQ(SwIsoTpOnFrame(ch, Bytes{0x00, 1}.data(), 2, &message), IsoTpRxAction::None);
    EXPECT_EQ(SwIsoTpOnFrame(ch, Bytes{0x05, 1, 2}.data(), 3, &message), IsoTpRxAction::None);
}

TEST(SwIsoTpReceive, FlowControlFrameCarriesTheChannelsSettings) {
    uint8_t wire[12];
    SwIsoTpFlowControlFrame(0x7E0, 8, 0x14, wire);
    EXPECT_EQ(Bytes(wire, wire + 12), (Bytes{0, 0, 7, 0xE0, 0x30, 8, 0x14, 0, 0, 0, 0, 0}));

    // Configured ids win over the defaults, and a learnt response id over both.
    ChannelState copy, live;
    uint32_t tx = 0, rx = 0;
    SwIsoTpIds(copy, live, &tx, &rx);
    EXPECT_EQ(tx, 0x7E0u);
    EXPECT_EQ(rx, 0x7E8u);
    live.link.swIsoTpTxId = 0x7E1;
    live.link.swIsoTpRxId = 0x7E9;
    SwIsoTpIds(copy, live, &tx, &rx);
    EXPECT_EQ(tx, 0x7E1u);
    EXPECT_EQ(rx, 0x7E9u);
    live.iso.expectedRxId = 0x7EA;
    SwIsoTpIds(copy, live, &tx, &rx);
    EXPECT_EQ(rx, 0x7EAu);
}
