// What the host profiles and the VCI's answers change in PassThruConnect: ISO 15765 set-up,
// PCMflash transports and exclusivity, the DAS wake-up and the response PASS filters.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/driver_under_test.h"
#include "tests/support/temp_dir.h"

namespace {
// Without raw mode on ISO 15765 links the ComParam set-up runs.
const char* kNoRawMode = "[ComParams]\nReject=CP_RawMode\n";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class ConnectProfiles : public ::testing::Test {
protected:
    void TearDown() override {
        if (dev) d.Close(dev);
        if (d.handle) UnloadDriverCopy(&d);
    }
    void Open(const std::string& ini, const char* vciSim, const char* baseName = "Orvex_J2534") {
        ASSERT_TRUE(LoadDriverWithVciSim(&d, "profiles", baseName, kQuickProbeIni + ini, vciSim));
        ASSERT_EQ(d.Open(nullptr, &dev), 0);
    }
    uint32_t ConnectIso15765() {
        j2534::ULONG ch = 0;
        EXPECT_EQ(d.Connect(dev, 6, 0, 500000, &ch), 0) << d.LastError();
        return ch;
    }
    DriverUnderTest d;
    j2534::ULONG dev = 0;
};
}  // namespace

TEST_F(ConnectProfiles, ComParamIdsAccepted) {
    Open("", kNoRawMode);
    ConnectIso15765();
    std::string log = d.LogText();
    EXPECT_TRUE(Contains(log, "PassThruConnect: dpduRawMode=0\r\n"));
    EXPECT_TRUE(Contains(log, "Dpdu_SetIso15765Ids: ORVEX3 set IDs tx=0x7E0 rx=0x7E8"));
    EXPECT_FALSE(Contains(log, "continuing without comparams"));
    EXPECT_FALSE(Contains(log, "SW-ISO-TP"));
}

TEST_F(ConnectProfiles, ComParamIdsRejectedWithoutRawCanFallback) {
    Open("[DAS]\nPairs=0x7E1:0x7E9\n", "[ComParams]\nReject=CP_RawMode,CP_CanPhysReqId,CP_CanRespUSDTId\n");
    ConnectIso15765();
    std::string log = d.LogText();
    EXPECT_TRUE(Contains(log, "Dpdu_SetIso15765Ids failed (tx=0x7E1, rx=0x7E9); continuing without comparams\r\n"
                         "ISO15765: disabling ComParam IDs for this channel after failure\r\n"));
    EXPECT_FALSE(Contains(log, "SW-ISO-TP"));
    EXPECT_FALSE(Contains(log, "RAWCAN fallback"));
}

TEST_F(ConnectProfiles, ComParamIdsRejectedWithRawCanFallbackConfigured) {
    Open("[ISOTP]\nFallbackToRawCan=1\n", "[ComParams]\nReject=CP_RawMode,CP_CanPhysReqId,CP_CanRespUSDTId\n");
    ConnectIso15765();
    std::string log = d.LogText();
    EXPECT_TRUE(Contains(log, "ISO15765: SW-ISO-TP enabled over RAWCAN\r\n"));
    EXPECT_TRUE(Contains(log, "ISO15765: disabling ComParam IDs for this channel after failure\r\n"));
    // The link is moved to raw CAN only for generic hosts; this library serves PIWIS.
    EXPECT_FALSE(Contains(log, "ISO15765: fallback to"));
}

TEST_F(ConnectProfiles, ComParamsSwitchedOffKeepFullFrames) {
    Open("[ISOTP]\nEnableComParams=0\n", kNoRawMode);
    ConnectIso15765();
    std::string log = d.LogText();
    EXPECT_TRUE(Contains(log, "ISO15765: ComParam IDs disabled; using full-frame fallback\r\n"));
    EXPECT_FALSE(Contains(log, "Dpdu_SetIso15765Ids"));
}

TEST_F(ConnectProfiles, VwOdisKeepsFullFrames) {
    Open("[ISOTP]\nFallbackToRawCan=1\nEnableComParams=0\n", kNoRawMode, "TRX4820_J2534");
    ConnectIso15765();
    std::string log = d.LogText();
    EXPECT_TRUE(Contains(log, "ISO15765: ComParam IDs disabled; keeping full frame (VW/ODIS)\r\n"));
    EXPECT_FALSE(Contains(log, "SW-ISO-TP"));  // never for VW/ODIS
}

TEST_F(ConnectProfiles, VwOdisComParamFailureKeepsFullFrames) {
    Open("[ISOTP]\nEnableComParams=1\n", kNoRawMode, "TRX4820_J2534");
    ConnectIso15765();
    std::string log = d.LogText();
    EXPECT_TRUE(Contains(log, "Dpdu_SetIso15765Ids: VW/ODIS skip ComParams (unsupported)\r\n"));
    EXPECT_TRUE(Contains(log, "ISO15765: VW/ODIS comparam failure; keeping full frame (no payload-only fallback)\r\n"));
}

TEST_F(ConnectProfiles, PcmflashRawCanRunsSoftwareIsoTp) {
    Open("[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\nForceRawCan=1\n", kNoRawMode);
    ConnectIso15765();
    std::string log = d.LogText();
    EXPECT_TRUE(Contains(log, "PassThruConnect: using logical link 'CanRawHS'\r\n"));
    EXPECT_TRUE(Contains(log, "ISO15765: SW-ISO-TP enabled over RAWCAN\r\n"));
    EXPECT_FALSE(Contains(log, "Dpdu_SetIso15765Ids"));
}

TEST_F(ConnectProfiles, PcmflashSingleChannelAndResponseFilters) {
    Open("[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\nExclusiveDevice=1\nUseKwpOnCan=0\n", nullptr);
    j2534::ULONG first = ConnectIso15765(), second = 99;
    EXPECT_EQ(d.Connect(dev, 5, 0, 500000, &second), 0x0E);
    EXPECT_EQ(second, 99u);
    EXPECT_EQ(d.LastError(), "Device is already in use (single channel enforced)");
    EXPECT_EQ(d.Disconnect(first), 0);
    EXPECT_EQ(d.Connect(dev, 5, 0, 500000, &second), 0);
    std::string log = d.LogText();
    EXPECT_TRUE(Contains(log, "PCMflash: forcing logical link ISO15765HS (preferred)\r\n"));
    EXPECT_TRUE(Contains(log, "PCMflash: installed ISO15765 response PASS filters\r\n"));
}

TEST_F(ConnectProfiles, PcmflashKwpOnCanFallsBackToIso15765) {
    // The module offers no KWP-on-CAN resource.
    Open("[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\n",
         "[Module1]\nName=ORVEX3-VCI\nInfo=Vendor=MIVRA ModuleName=ORVEX3-VCI SerialNumber=1 ConnectionType=USB\n"
         "ResourceIds=0x300B0001,0x300B0003\n");
    ConnectIso15765();
    std::string log = d.LogText();
    EXPECT_TRUE(Contains(log, "PassThruConnect: using logical link 'Kwp2000CanHS'\r\n"));
    EXPECT_TRUE(Contains(log, "PCMflash: KWP-on-CAN failed; falling back to ISO15765HS\r\n"));
    EXPECT_TRUE(Contains(log, "PCMflash: fallback to ISO15765HS succeeded\r\n"));
}

TEST_F(ConnectProfiles, XentryInstallsResponseFilters) {
    Open("[Profile]\nMode=XENTRY\n", nullptr);
    ConnectIso15765();
    j2534::ULONG can = 0;
    ASSERT_EQ(d.Connect(dev, 5, 0, 500000, &can), 0);
    std::string log = d.LogText();
    size_t n = 0;
    for (size_t p = log.find("XENTRY: installed ISO15765 response PASS filters"); p != std::string::npos;
         p = log.find("XENTRY: installed ISO15765 response PASS filters", p + 1))
        ++n;
    EXPECT_EQ(n, 1u);  // ISO 15765 channels only
}

TEST_F(ConnectProfiles, DasWakeupReachesTheBus) {
    Open("[Profile]\nMode=DAS\n[DAS]\nInjectDelayMs=0\nPairs=0x7E1:0x7E9\n", "[General]\nTrace=trace.txt\n");
    ConnectIso15765();
    std::string log = d.LogText();
    EXPECT_TRUE(Contains(log, "DAS profile: forcing logical link ISO15765HS\r\n"));
    EXPECT_TRUE(Contains(log, "[DAS] Injecting wake-up TX=0x7E1 data=02 10 03\r\n"));
    EXPECT_TRUE(Contains(log, "[DAS] Injecting wake-up TX=0x7E1 data=02 3E 00\r\n"));
    std::string trace = ReadFileText(JoinPath(d.dir, "trace.txt"));
    size_t session = trace.find("00 00 07 E1 02 10 03");
    size_t tester = trace.find("00 00 07 E1 02 3E 00");
    ASSERT_NE(session, std::string::npos) << trace;
    ASSERT_NE(tester, std::string::npos);
    EXPECT_LT(session, tester);
    // Once per channel: a second channel gets its own, the first none again.
    ConnectIso15765();
    EXPECT_EQ(ReadFileText(JoinPath(d.dir, "trace.txt")).find("00 00 07 E1 02 10 03", session + 1) != std::string::npos,
              true);
}

TEST_F(ConnectProfiles, DasWakeupFollowsItsSwitches) {
    Open("[Profile]\nMode=DAS\n[DAS]\nInjectDelayMs=0\nInjectSessionStart=0\n", nullptr);
    ConnectIso15765();
    std::string log = d.LogText();
    EXPECT_FALSE(Contains(log, "data=02 10 03"));
    EXPECT_TRUE(Contains(log, "[DAS] Injecting wake-up TX=0x7E0 data=02 3E 00\r\n"));
}
