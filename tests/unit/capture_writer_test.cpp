// The capture's writer on its own: the link-layer forms of frames and messages the whole-session
// tests do not reach (29-bit ids, CAN FD, K-Line), a channel gone before its traffic is written,
// and a second session of the process going on in the same file.
#include <gtest/gtest.h>

#include <string>

#include "common/j2534.h"
#include "driver/capture/capture.h"
#include "tests/support/pcapng_reader.h"
#include "tests/support/temp_dir.h"

namespace {

CaptureSettings Settings(const std::string& path) {
    CaptureSettings s;
    s.enabled = true;
    s.path = path;
    return s;
}

void Connect(uint32_t id, uint32_t protocol, uint32_t flags = 0) {
    CaptureChannel c;
    c.channelId = id;
    c.protocolId = protocol;
    c.baudRate = 500000;
    c.flags = flags;
    CaptureChannelConnected(c);
}

const uint8_t kExtendedFrame[] = {0x18, 0xDA, 0x10, 0xF1, 0x02, 0x3E, 0x00};

}  // namespace

TEST(CaptureWriter, FramesAndMessagesOfEveryLinkForm) {
    const std::string path = JoinPath(MakeScenarioDir("capture_forms"), "forms.pcapng");
    CaptureSessionStart(Settings(path));
    ASSERT_TRUE(CaptureOn());
    Connect(1, j2534::CAN, j2534::CAN_29BIT_ID);
    Connect(2, j2534::CAN_FD);
    Connect(3, j2534::ISO14230);
    CaptureSent(1, 1000, kExtendedFrame, sizeof kExtendedFrame, true, CaptureSender::Host);
    uint8_t fd[4 + 20] = {0x00, 0x00, 0x07, 0xE0};
    for (int i = 4; i < 24; ++i) fd[i] = static_cast<uint8_t>(i);
    CaptureReceived(2, 2000, fd, sizeof fd, true);
    const uint8_t kline[] = {0x81, 0x10, 0xF1, 0x81, 0x03};
    CaptureSent(3, 3000, kline, sizeof kline, false, CaptureSender::Periodic);
    CaptureChannelDisconnected(2);
    CaptureReceived(2, 4000, fd, sizeof fd, true);  // after its channel went: not written
    CaptureSessionEnd();
    EXPECT_FALSE(CaptureOn());

    const PcapngFile f = ReadPcapng(ReadFileText(path));
    ASSERT_EQ(f.error, "");
    ASSERT_EQ(f.interfaces.size(), 3u);
    EXPECT_EQ(f.interfaces[0].name, "ch1 CAN 500000");
    EXPECT_EQ(f.interfaces[1].name, "ch2 CAN_FD 500000");
    EXPECT_EQ(f.interfaces[1].linkType, 227);
    EXPECT_EQ(f.interfaces[2].name, "ch3 ISO14230 500000");
    EXPECT_EQ(f.interfaces[2].linkType, 252);
    ASSERT_EQ(f.packets.size(), 3u);

    SocketCanFrame frame;
    ASSERT_TRUE(SplitSocketCan(f.packets[0].data, &frame));
    EXPECT_EQ(frame.id, 0x18DA10F1u);
    EXPECT_TRUE(frame.extended);
    EXPECT_FALSE(frame.fd);
    EXPECT_EQ(frame.data, std::string("\x02\x3E\x00", 3));
    EXPECT_EQ(f.packets[0].time, 1000u);
    EXPECT_EQ(f.packets[0].flags, 2u);

    ASSERT_TRUE(SplitSocketCan(f.packets[1].data, &frame));
    EXPECT_TRUE(frame.fd);
    EXPECT_FALSE(frame.extended);
    EXPECT_EQ(frame.data.size(), 20u);
    EXPECT_EQ(uint8_t(f.packets[1].data[5]) & 0x04, 0x04);  // CANFD_FDF
    EXPECT_EQ(f.packets[1].flags, 1u);

    std::string dissector, payload;
    ASSERT_TRUE(SplitExportedPdu(f.packets[2].data, &dissector, &payload));
    EXPECT_EQ(dissector, "data");
    EXPECT_EQ(payload, std::string(reinterpret_cast<const char*>(kline), sizeof kline));
    EXPECT_EQ(f.packets[2].comment, "ISO 14230 (K-Line); periodic message by the driver");
}

TEST(CaptureWriter, NextSessionOfTheProcessGoesOnInItsFile) {
    const std::string path = JoinPath(MakeScenarioDir("capture_sessions"), "sessions.pcapng");
    for (uint32_t session = 1; session <= 2; ++session) {
        CaptureSessionStart(Settings(path));
        Connect(session, j2534::CAN);
        CaptureSent(session, session * 1000, kExtendedFrame, sizeof kExtendedFrame, true, CaptureSender::Host);
        CaptureSessionEnd();
    }
    const PcapngFile f = ReadPcapng(ReadFileText(path));
    ASSERT_EQ(f.error, "");
    EXPECT_EQ(f.sections, 1u);
    ASSERT_EQ(f.interfaces.size(), 2u);
    EXPECT_EQ(f.interfaces[1].name, "ch2 CAN 500000");
    ASSERT_EQ(f.packets.size(), 2u);
    EXPECT_EQ(f.packets[1].interfaceIndex, 1u);
}
