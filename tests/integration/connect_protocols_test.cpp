// PassThruConnect and PassThruDisconnect: protocol refusals, the baud clamp, link names,
// channel ids and the START/END framing, on the simulated VCI.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/driver_under_test.h"

namespace {


class Connect : public ::testing::Test {
protected:
    void TearDown() override {
        if (dev) d.Close(dev);
        if (d.handle) UnloadDriverCopy(&d);
    }
    void Open(const std::string& ini, const char* vciSim = nullptr) {
        ASSERT_TRUE(LoadDriverWithVciSim(&d, "connect", "Orvex_J2534", kQuickProbeIni + ini, vciSim));
        ASSERT_EQ(d.Open(nullptr, &dev), 0);
    }
    int32_t Refusal(uint32_t protocol, std::string* text) {
        j2534::ULONG ch = 99;
        int32_t rc = d.Connect(dev, protocol, 0, 500000, &ch);
        EXPECT_EQ(ch, 99u) << protocol;  // untouched on a refusal
        *text = d.LastError();
        return rc;
    }
    DriverUnderTest d;
    j2534::ULONG dev = 0;
};
}  // namespace

TEST_F(Connect, UnimplementedProtocolsAreRefused) {
    Open("");
    std::string text;
    for (uint32_t p : {1u, 2u}) {
        EXPECT_EQ(Refusal(p, &text), 0x03);
        EXPECT_EQ(text, "Unsupported protocol (J1850) (not implemented)");
    }
    // 10 is refused as SCI although the CAN FD link rules know it.
    for (uint32_t p : {7u, 10u, 11u, 12u}) {
        EXPECT_EQ(Refusal(p, &text), 0x03);
        EXPECT_EQ(text, "Unsupported protocol (SCI) (not implemented)");
    }
    // No link name at all (after the backend came up).
    EXPECT_EQ(Refusal(13, &text), 0x03);
    EXPECT_EQ(text, "Unsupported protocol");
}

TEST_F(Connect, CanFdNeedsTheConfigurationAndTheVci) {
    Open("[CanFd]\nEnable=0\n");
    std::string text;
    for (uint32_t p : {9u, 15u, 16u}) {
        EXPECT_EQ(Refusal(p, &text), 0x03);
        EXPECT_EQ(text, "CAN-FD not supported");
    }
    d.Close(dev);
    UnloadDriverCopy(&d);
    // Enabled, but the VCI turns the FD baud rate down: the link failure says so.
    Open("[CanFd]\nEnable=1\n", "[ComParams]\nReject=CP_CANFDBaudrate\n");
    j2534::ULONG ch = 99;
    EXPECT_EQ(d.Connect(dev, 16, 0, 500000, &ch), 0x03);
    EXPECT_EQ(ch, 0u);
    EXPECT_EQ(d.LastError().rfind("Dpdu_OpenLink failed in PassThruConnect: ", 0), 0u) << d.LastError();
    EXPECT_NE(d.LogText().find("PassThruConnect: using logical link 'ISO15765FD'\r\n"), std::string::npos);
}

TEST_F(Connect, ResourceIdsThatRuleOutDoIpAndKLine) {
    Open("[ResourceIds]\nDoIP=0xFFFFFFFF\nKLine=0xFFFFFFFE\n");
    std::string text;
    for (uint32_t p : {14u, 0x8000u}) {
        EXPECT_EQ(Refusal(p, &text), 0x03);
        EXPECT_EQ(text, "DoIP not supported (no valid resource id)");
    }
    for (uint32_t p : {3u, 4u}) {
        EXPECT_EQ(Refusal(p, &text), 0x03);
        EXPECT_EQ(text, "K-Line not supported (no valid resource id)");
    }
}

TEST_F(Connect, PcmflashRefusesKLine) {
    Open("[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\n");
    std::string text;
    EXPECT_EQ(Refusal(3, &text), 0x03);
    EXPECT_EQ(text, "PCMflash compat: K-Line disabled; use CAN/ISO15765");
    EXPECT_NE(d.LogText().find("[Compat] PCMflash requested K-Line protocol -> rejecting to force CAN\r\n"),
              std::string::npos);
}

TEST_F(Connect, BaudZeroIsClampedForCanProtocols) {
    Open("");
    j2534::ULONG ch = 0;
    ASSERT_EQ(d.Connect(dev, 6, 0, 0, &ch), 0);
    std::string log = d.LogText();
    EXPECT_NE(log.find("=== START proto=0x6 baud=0 ===\r\nPassThruConnect: devId=1 proto=0x6 flags=0x0 baud=0\r\n"
                       "PassThruConnect: clamp baud 0 -> 500000\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("PassThruConnect: using logical link 'ISO15765HS'\r\n"), std::string::npos);
    EXPECT_NE(log.find("=== END rc=0 ===\r\n"), std::string::npos);
}

TEST_F(Connect, MappedNameWithoutIsoTpBecomesIso15765) {
    Open("[LogicalLinkMappings]\nISO15765_500k=CanRawHS\nCAN_500000=CanRawHS\n");
    j2534::ULONG a = 0, b = 0;
    ASSERT_EQ(d.Connect(dev, 6, 0, 500000, &a), 0);
    ASSERT_EQ(d.Connect(dev, 5, 0x100, 500000, &b), 0);
    std::string log = d.LogText();
    EXPECT_NE(log.find("PassThruConnect: using logical link 'ISO15765'\r\n"), std::string::npos);
    EXPECT_NE(log.find("PassThruConnect: devId=1 proto=0x5 flags=0x100 baud=500000\r\n"), std::string::npos);
    EXPECT_NE(log.find("PassThruConnect: using logical link 'CanRawHS'\r\n"), std::string::npos);
}

TEST_F(Connect, FailedLinkConsumesTheChannelId) {
    Open("[ResourceIds]\nKLine=0\n");
    j2534::ULONG ch = 55;
    EXPECT_EQ(d.Connect(dev, 3, 0, 10400, &ch), 0x07);
    EXPECT_EQ(ch, 0u);
    EXPECT_EQ(d.LastError().rfind("Dpdu_OpenLink failed in PassThruConnect: ", 0), 0u) << d.LastError();
    ASSERT_EQ(d.Connect(dev, 5, 0, 500000, &ch), 0);
    EXPECT_EQ(ch, 2u);
    // The backend stays up after a link failure: one initialisation only.
    EXPECT_EQ(CountOf(d.LogText(), "Dpdu_Init: marker dpdu_init\r\n"), 1u);
}

TEST_F(Connect, DisconnectUnknownAndBeforeOpen) {
    Open("");
    j2534::ULONG ch = 0;
    ASSERT_EQ(d.Connect(dev, 5, 0, 500000, &ch), 0);
    EXPECT_EQ(d.Disconnect(ch + 1), 0x02);
    EXPECT_EQ(d.Disconnect(ch), 0);
    EXPECT_EQ(d.Disconnect(ch), 0x02);
    EXPECT_EQ(d.Close(dev), 0);
    dev = 0;
    EXPECT_EQ(d.Disconnect(ch), 0x08);
    EXPECT_EQ(d.LastError(), "Device not open.");
}

TEST_F(Connect, EveryExitWritesTheEndLine) {
    Open("");
    j2534::ULONG ch = 0;
    d.Connect(dev, 1, 0, 0, &ch);        // refusal
    d.Connect(dev, 5, 0, 500000, &ch);   // success
    d.Connect(dev, 6, 0, 500000, nullptr);
    d.Connect(7, 5, 0, 500000, &ch);     // wrong device id
    d.Connect(dev, 13, 0, 500000, &ch);  // no link name
    std::string log = d.LogText();
    EXPECT_EQ(CountOf(log, "=== START proto="), 5u);
    EXPECT_EQ(CountOf(log, "=== END rc="), 5u);
    EXPECT_NE(log.find("=== END rc=26 ===\r\n"), std::string::npos);
    EXPECT_NE(log.find("=== END rc=4 ===\r\n"), std::string::npos);
}

TEST_F(Connect, BenchModeWithoutModuleGivesALinklessChannel) {
    // The simulated VCI lists only a module that is in use elsewhere.
    Open("[Bench]\nBenchEnabled=1\n", "[Module1]\nName=ORVEX3\nStatus=NOT_AVAIL\n");
    j2534::ULONG ch = 0;
    ASSERT_EQ(d.Connect(dev, 6, 0, 500000, &ch), 0);
    EXPECT_EQ(ch, 1u);
    EXPECT_EQ(d.LastError(), "OK");
    std::string log = d.LogText();
    EXPECT_NE(log.find("Dpdu_OpenModule: no modules detected; Bench mode enabled => continuing without VCI\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("PassThruConnect: Bench mode channel created without VCI / link\r\n"), std::string::npos);
    EXPECT_EQ(d.Disconnect(ch), 0);
}

TEST_F(Connect, WithoutBenchModeAMissingModuleFailsTheConnect) {
    Open("", "[Module1]\nName=ORVEX3\nStatus=NOT_AVAIL\n");
    j2534::ULONG ch = 0;
    EXPECT_EQ(d.Connect(dev, 6, 0, 500000, &ch), 0x07);
    EXPECT_EQ(d.LastError().rfind("Dpdu_OpenModule failed: ", 0), 0u) << d.LastError();
    EXPECT_NE(d.LogText().find("Dpdu_Shutdown: completed"), std::string::npos);
}
