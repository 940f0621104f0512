// Host detection and the profile rules: path matching, precedence, OEM family, open rules.
#include <gtest/gtest.h>

#include "driver/config/driver_config.h"
#include "driver/config/host_profile.h"
#include "driver/log/log.h"
#include "tests/support/scoped_log.h"
#include "tests/support/temp_dir.h"

namespace {

// Runs each test on a fresh configuration whose log goes to a scenario file.
class HostProfile : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = g_config;
        savedOem_ = g_oemKind;
        logPath_ = JoinPath(MakeScenarioDir("profile"), "profile.log");
        Reset();
    }
    void Reset() {
        g_config = DriverConfig{};
        g_config.BackendVariant = "Orvex";
        log_.To(logPath_);
        g_oemKind = OemKind::Generic;
    }
    void TearDown() override {
        g_config = saved_;
        g_oemKind = savedOem_;
    }
    std::string Log() const { return ReadFileText(logPath_); }
    size_t Count(const std::string& line) const {
        const std::string text = Log(), needle = line + "\r\n";
        size_t n = 0;
        for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) ++n;
        return n;
    }
    std::string logPath_;
    DriverConfig saved_;
    ScopedLog log_;
    OemKind savedOem_ = OemKind::Generic;
};

}  // namespace

TEST(HostPathMatch, FileNameFolderAndContainment) {
    EXPECT_TRUE(HostPathMatches("PassThruWrapper32.exe", "C:\\Tools\\XENTRY\\PassThruWrapper32.exe"));
    EXPECT_TRUE(HostPathMatches("passthruwrapper32.EXE", "c:/tools/PassThruWrapper32.exe"));
    EXPECT_TRUE(HostPathMatches("C:\\Program Files\\Tool", "C:\\Program Files\\Tool\\bin\\a.exe"));
    EXPECT_TRUE(HostPathMatches("\"C:/Program Files/X/\"", "C:\\Program Files\\X\\sub\\host.exe"));
    EXPECT_TRUE(HostPathMatches("'das32r3.exe'", "D:\\DAS\\das32r3.exe"));
    EXPECT_TRUE(HostPathMatches("pcmflash", "D:\\PCMFlash\\PCMFlash.exe"));
    EXPECT_TRUE(HostPathMatches("E:\\elsewhere\\flash", "D:\\Tools\\MyFlasher.exe"));  // extension-less name
    EXPECT_TRUE(HostPathMatches("E:\\elsewhere\\Host.exe", "D:\\x\\host.exe"));         // same file name
}

TEST(HostPathMatch, NonMatches) {
    EXPECT_FALSE(HostPathMatches("", "C:\\a.exe"));
    EXPECT_FALSE(HostPathMatches("  \"\"  ", "C:\\a.exe"));
    EXPECT_FALSE(HostPathMatches("a.exe", ""));
    EXPECT_FALSE(HostPathMatches("das32r3.exe", "C:\\DAS\\das32r4.exe"));
    EXPECT_FALSE(HostPathMatches("flash.exe", "C:\\x\\myflash2.exe"));  // with an extension: whole name only
    EXPECT_FALSE(HostPathMatches("\"das32r3.exe'", "C:\\d\\x.exe"));   // unpaired quotes stay
    // A folder that the host is not below matches nothing, whatever the host's name.
    EXPECT_FALSE(HostPathMatches("D:\\Other\\", "C:\\Tools\\host.exe"));
    EXPECT_FALSE(HostPathMatches("D:/Other/", "C:\\Tools\\host.exe"));
}

TEST_F(HostProfile, XentryHostDetectedFromPath) {
    DetectHostProfileFor("C:\\Tools\\XENTRY\\PassThruWrapper32.exe", false);
    EXPECT_TRUE(g_config.XentryProfile);
    EXPECT_TRUE(g_config.ProfileExplicit);
    EXPECT_EQ(g_oemKind, OemKind::MbXentry);
    const std::string log = Log();
    size_t detected = log.find("Profile auto-detected from path: XENTRY\r\n");
    size_t overridden = log.find("OEM overridden by Profile: XENTRY\r\n");
    ASSERT_NE(detected, std::string::npos);
    ASSERT_NE(overridden, std::string::npos);
    EXPECT_LT(detected, overridden);
    // Detection runs once; later calls only repeat the OEM override.
    DetectHostProfileFor("C:\\Tools\\XENTRY\\PassThruWrapper32.exe", false);
    EXPECT_EQ(Count("Profile auto-detected from path: XENTRY"), 1u);
    EXPECT_EQ(Count("OEM overridden by Profile: XENTRY"), 2u);
}

TEST_F(HostProfile, IniProfileBeatsDetectionAndDasDropsUdsApduOnly) {
    g_config.ProfileExplicit = true;
    g_config.DasProfile = true;
    DetectHostProfileFor("C:\\Tools\\XENTRY\\PassThruWrapper32.exe", false);
    EXPECT_FALSE(g_config.XentryProfile);
    EXPECT_EQ(g_oemKind, OemKind::MbXentry);
    EXPECT_FALSE(g_config.UdsApduOnly);
    EXPECT_EQ(Count("OEM overridden by Profile: DAS"), 1u);
    EXPECT_EQ(Count("DAS profile: ISO15765 UdsApduOnly disabled (keep ISO-TP PCI)"), 1u);
    EXPECT_EQ(Count("Profile auto-detected from path: XENTRY"), 0u);

    // UdsApduOnly set by the INI beats the DAS rule.
    g_config.UdsApduOnly = true;
    g_config.UdsApduOnlyExplicit = true;
    DetectHostProfileFor("C:\\x\\host.exe", false);
    EXPECT_TRUE(g_config.UdsApduOnly);
}

TEST_F(HostProfile, DetectionPrecedence) {
    g_config.DAS.DasPath = "C:\\Tools";
    DetectHostProfileFor("C:\\Tools\\XENTRY\\PassThruWrapper32.exe", false);
    EXPECT_TRUE(g_config.XentryProfile);  // XENTRY beats DAS
    EXPECT_FALSE(g_config.DasProfile);

    Reset();
    g_config.Odis.OdisPath = "host";
    g_config.PCMflash.PcmflashPath = "host";
    g_config.Piwis.PiwisPath = "host";
    DetectHostProfileFor("C:\\x\\host.exe", false);
    EXPECT_TRUE(g_config.OdisProfile);
    EXPECT_FALSE(g_config.PcmflashProfile);
    EXPECT_EQ(g_oemKind, OemKind::VwOdis);

    Reset();
    g_config.PCMflash.PcmflashPath = "host";
    g_config.Piwis.PiwisPath = "host";
    DetectHostProfileFor("C:\\x\\host.exe", false);
    EXPECT_TRUE(g_config.PcmflashProfile);
    EXPECT_TRUE(g_config.PCMflash.PCMflashEnabled);
    EXPECT_FALSE(g_config.PiwisProfile);
    EXPECT_TRUE(IsPcmflashCompatActive());
    EXPECT_EQ(Count("Profile auto-detected from path: PCMFLASH"), 1u);

    Reset();
    g_config.Piwis.PiwisPath = "C:\\PIWIS";
    DetectHostProfileFor("C:\\PIWIS\\piwis.exe", false);
    EXPECT_TRUE(g_config.PiwisProfile);
    EXPECT_EQ(g_oemKind, OemKind::Piwis);
    EXPECT_EQ(Count("OEM overridden by Profile: PIWIS"), 1u);
}

TEST_F(HostProfile, ForcePhysicalDasStillLetsDetectionRun) {
    g_config.DasProfile = true;  // [DAS] ForcePhysical=1
    DetectHostProfileFor("C:\\O\\PduProtocolLayer.J2534.exe", false);
    EXPECT_TRUE(g_config.OdisProfile);
    EXPECT_EQ(g_oemKind, OemKind::MbXentry);  // the DAS flag still names the family
    EXPECT_EQ(Count("OEM overridden by Profile: DAS"), 1u);
}

TEST_F(HostProfile, OemKindFromVariantWithoutProfile) {
    g_config.BackendVariant = "TRX4820";
    DetectHostProfileFor("C:\\x\\generic.exe", false);
    EXPECT_EQ(g_oemKind, OemKind::VwOdis);
    EXPECT_STREQ(OemKindName(g_oemKind), "VW/ODIS");
    g_config.BackendVariant = "TVN";
    DetectHostProfileFor("C:\\x\\generic.exe", false);
    EXPECT_EQ(g_oemKind, OemKind::MbXentry);
    g_config.BackendVariant = "Orvex";
    DetectHostProfileFor("", false);
    EXPECT_EQ(g_oemKind, OemKind::Piwis);
    g_config.BackendVariant.clear();
    g_oemKind = OemKind::Unset;
    DetectHostProfileFor("C:\\x\\generic.exe", false);
    EXPECT_EQ(g_oemKind, OemKind::Generic);
    EXPECT_FALSE(g_config.ProfileExplicit);
}

TEST_F(HostProfile, PcmflashHostWithoutPcmflashEnabled) {
    DetectHostProfileFor("D:\\PCMFlash\\PCMFlash.exe", true);
    EXPECT_TRUE(g_config.PcmflashHostDetected);
    EXPECT_EQ(Count("[Compat] Detected host process: PCMflash"), 1u);
    EXPECT_FALSE(IsPcmflashCompatActive());  // PCMflashEnabled=0

    // The path test alone suffices for the open rules.
    g_config.KeepToolkitLoaded = true;
    g_config.Bench.NoEcuMode = true;
    ApplyOpenProfileRulesFor(true);
    EXPECT_FALSE(g_config.KeepToolkitLoaded);
    EXPECT_FALSE(g_config.Bench.NoEcuMode);
    EXPECT_EQ(Count("PCMflash: forcing KeepLoaded=0 to avoid stale toolkit lock"), 1u);
    EXPECT_EQ(Count("PCMflash: disabling NoEcuMode to allow real TX/RX"), 1u);
    ApplyOpenProfileRulesFor(true);  // nothing left to change: no new lines
    EXPECT_EQ(Count("PCMflash: forcing KeepLoaded=0 to avoid stale toolkit lock"), 1u);
    EXPECT_EQ(Count("PCMflash: disabling NoEcuMode to allow real TX/RX"), 1u);
}

TEST_F(HostProfile, PcmflashCompatRulesNeedForceUnloadForRetention) {
    g_config.PCMflash.PCMflashEnabled = true;
    g_config.PcmflashProfile = true;
    g_config.KeepToolkitLoaded = true;
    g_config.J2534.WriteUsesSendRecv = false;
    g_config.PCMflash.UseSendRecvIso15765FD = true;
    ApplyOpenProfileRulesFor(false);
    EXPECT_TRUE(g_config.KeepToolkitLoaded);  // ForceUnloadOnClose off, not a PCMflash path
    EXPECT_TRUE(g_config.J2534.WriteUsesSendRecv);
    g_config.PCMflash.ForceUnloadOnClose = true;
    ApplyOpenProfileRulesFor(false);
    EXPECT_FALSE(g_config.KeepToolkitLoaded);
}

TEST_F(HostProfile, XentryOpenRulesLogOnlyOnChange) {
    g_config.XentryProfile = true;
    g_config.J2534.WriteUsesSendRecv = false;
    g_config.KeepToolkitLoaded = true;
    ApplyOpenProfileRulesFor(false);
    EXPECT_TRUE(g_config.J2534.WriteUsesSendRecv);
    EXPECT_FALSE(g_config.KeepToolkitLoaded);
    EXPECT_EQ(g_oemKind, OemKind::Generic);  // not explicit: no OEM change
    ApplyOpenProfileRulesFor(false);
    EXPECT_EQ(Count("XENTRY: forcing WriteUsesSendRecv=1 for ISO15765"), 1u);
    EXPECT_EQ(Count("XENTRY: forcing KeepLoaded=0 to avoid stale toolkit lock"), 1u);
    EXPECT_EQ(Count("OEM detection overridden by Profile Mode: XENTRY"), 0u);

    g_config.ProfileExplicit = true;
    ApplyOpenProfileRulesFor(false);
    EXPECT_EQ(g_oemKind, OemKind::MbXentry);
    EXPECT_EQ(Count("OEM detection overridden by Profile Mode: XENTRY"), 1u);

    // Rules switched off in [Xentry] leave the settings alone.
    g_config.Xentry.UseSendRecvIso15765 = false;
    g_config.Xentry.ForceUnloadOnClose = false;
    g_config.J2534.WriteUsesSendRecv = false;
    g_config.KeepToolkitLoaded = true;
    ApplyOpenProfileRulesFor(false);
    EXPECT_FALSE(g_config.J2534.WriteUsesSendRecv);
    EXPECT_TRUE(g_config.KeepToolkitLoaded);
}

TEST_F(HostProfile, XentryIdCorrection) {
    uint32_t tx = 0x123, rx = 0x100;
    FixXentryIso15765Ids(tx, rx);  // not the XENTRY profile: untouched
    EXPECT_EQ(tx, 0x123u);
    EXPECT_EQ(rx, 0x100u);

    g_config.XentryProfile = true;
    for (uint32_t keep : {0x7DFu, 0x7E0u, 0x600u, 0x18DA10F1u}) {
        uint32_t t = keep, r = 0x7E8;
        FixXentryIso15765Ids(t, r);
        EXPECT_EQ(t, keep);
        EXPECT_EQ(r, 0x7E8u);
    }
    FixXentryIso15765Ids(tx, rx);
    EXPECT_EQ(tx, 0x7E0u);
    EXPECT_EQ(rx, 0x7E8u);
    EXPECT_EQ(Count("XENTRY: suspicious ISO15765 TX ID 0x123; using default 0x7E0"), 1u);

    g_config.DasIdPairs = {{0x7E1, 0x7E9}, {0x7E2, 0x7EA}};
    tx = 0x5FF;
    rx = 0;
    FixXentryIso15765Ids(tx, rx);
    EXPECT_EQ(tx, 0x7E1u);
    EXPECT_EQ(rx, 0x7E9u);
    EXPECT_EQ(Count("XENTRY: suspicious ISO15765 TX ID 0x5FF; using default 0x7E1"), 1u);
}

TEST_F(HostProfile, FirstDasPair) {
    EXPECT_EQ(DasFirstTxId(), 0x7E0u);
    EXPECT_EQ(DasFirstRxId(), 0x7E8u);
    g_config.DasIdPairs = {{0x6F1, 0x612}};
    EXPECT_EQ(DasFirstTxId(), 0x6F1u);
    EXPECT_EQ(DasFirstRxId(), 0x612u);
}

TEST_F(HostProfile, PcmflashProfileSettings) {
    ApplyPcmflashProfile(g_config);
    const auto& p = g_config.PCMflash;
    EXPECT_TRUE(g_config.PcmflashProfile);
    EXPECT_TRUE(p.PCMflashEnabled && p.UseSendRecvIso15765 && p.UseSendRecvIso15765FD && p.TryIso15765ComParams &&
                p.InstallIso15765ResponseFilters && p.ForceUnloadOnClose && p.UseKwpOnCan);
    EXPECT_FALSE(p.ForceRawCan);
    EXPECT_FALSE(g_config.UdsApduOnly);
    EXPECT_TRUE(g_config.UdsApduOnlyExplicit);
}
