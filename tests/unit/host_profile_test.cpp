// Host detection and the profile rules: path matching, precedence, OEM family, open rules.
#include <gtest/gtest.h>

#include "driver/config/driver_config.h"
#include "driver/config/host_profile.h"
#include "driver/iso15765/iso15765.h"
#include "driver/log/log.h"
#include "tests/support/scoped_log.h"
#include "tests/support/temp_dir.h"

namespace {

// Runs each test on a fresh configuration whose log goes to a scenario file.
class HostProfile : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = g_config;
        logPath_ = JoinPath(MakeScenarioDir("profile"), "profile.log");
        Reset();
    }
    void Reset() {
        g_config = DriverConfig{};
        g_config.BackendVariant = "Orvex";
        log_.To(logPath_);
        s = SessionProfile{};
    }
    void TearDown() override { g_config = saved_; }
    Iso15765Rules Rules() const { return Iso15765RulesFor(g_config, s); }
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
    SessionProfile s;
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
    DetectHostProfile(g_config, "C:\\Tools\\XENTRY\\PassThruWrapper32.exe", false, s);
    EXPECT_TRUE(s.XentryProfile);
    EXPECT_TRUE(s.ProfileExplicit);
    EXPECT_EQ(s.Oem, OemKind::MbXentry);
    const std::string log = Log();
    size_t detected = log.find("Profile auto-detected from path: XENTRY\r\n");
    size_t overridden = log.find("OEM overridden by Profile: XENTRY\r\n");
    ASSERT_NE(detected, std::string::npos);
    ASSERT_NE(overridden, std::string::npos);
    EXPECT_LT(detected, overridden);
    // Detection runs once; later calls only repeat the OEM override.
    DetectHostProfile(g_config, "C:\\Tools\\XENTRY\\PassThruWrapper32.exe", false, s);
    EXPECT_EQ(Count("Profile auto-detected from path: XENTRY"), 1u);
    EXPECT_EQ(Count("OEM overridden by Profile: XENTRY"), 2u);
}

TEST_F(HostProfile, IniProfileBeatsDetectionAndDasDropsUdsApduOnly) {
    s.ProfileExplicit = true;
    s.DasProfile = true;
    DetectHostProfile(g_config, "C:\\Tools\\XENTRY\\PassThruWrapper32.exe", false, s);
    EXPECT_FALSE(s.XentryProfile);
    EXPECT_EQ(s.Oem, OemKind::MbXentry);
    EXPECT_FALSE(s.UdsApduOnly);
    EXPECT_EQ(Count("OEM overridden by Profile: DAS"), 1u);
    EXPECT_EQ(Count("DAS profile: ISO15765 UdsApduOnly disabled (keep ISO-TP PCI)"), 1u);
    EXPECT_EQ(Count("Profile auto-detected from path: XENTRY"), 0u);

    // UdsApduOnly set by the INI beats the DAS rule.
    s.UdsApduOnly = true;
    s.UdsApduOnlyExplicit = true;
    DetectHostProfile(g_config, "C:\\x\\host.exe", false, s);
    EXPECT_TRUE(s.UdsApduOnly);
}

TEST_F(HostProfile, DetectionPrecedence) {
    g_config.DAS.DasPath = "C:\\Tools";
    DetectHostProfile(g_config, "C:\\Tools\\XENTRY\\PassThruWrapper32.exe", false, s);
    EXPECT_TRUE(s.XentryProfile);  // XENTRY beats DAS
    EXPECT_FALSE(s.DasProfile);

    Reset();
    g_config.Odis.OdisPath = "host";
    g_config.PCMflash.PcmflashPath = "host";
    g_config.Piwis.PiwisPath = "host";
    DetectHostProfile(g_config, "C:\\x\\host.exe", false, s);
    EXPECT_TRUE(s.OdisProfile);
    EXPECT_FALSE(s.PcmflashProfile);
    EXPECT_EQ(s.Oem, OemKind::VwOdis);

    Reset();
    g_config.PCMflash.PcmflashPath = "host";
    g_config.Piwis.PiwisPath = "host";
    DetectHostProfile(g_config, "C:\\x\\host.exe", false, s);
    EXPECT_TRUE(s.PcmflashProfile);
    EXPECT_TRUE(s.PCMflash.PCMflashEnabled);
    EXPECT_FALSE(s.PiwisProfile);
    EXPECT_TRUE(IsPcmflashCompatActive(s));
    EXPECT_EQ(Count("Profile auto-detected from path: PCMFLASH"), 1u);

    Reset();
    g_config.Piwis.PiwisPath = "C:\\PIWIS";
    DetectHostProfile(g_config, "C:\\PIWIS\\piwis.exe", false, s);
    EXPECT_TRUE(s.PiwisProfile);
    EXPECT_EQ(s.Oem, OemKind::Piwis);
    EXPECT_EQ(Count("OEM overridden by Profile: PIWIS"), 1u);
}

TEST_F(HostProfile, ForcePhysicalDasStillLetsDetectionRun) {
    s.DasProfile = true;  // [DAS] ForcePhysical=1
    DetectHostProfile(g_config, "C:\\O\\PduProtocolLayer.J2534.exe", false, s);
    EXPECT_TRUE(s.OdisProfile);
    EXPECT_EQ(s.Oem, OemKind::MbXentry);  // the DAS flag still names the family
    EXPECT_EQ(Count("OEM overridden by Profile: DAS"), 1u);
}

TEST_F(HostProfile, OemKindFromVariantWithoutProfile) {
    g_config.BackendVariant = "TRX4820";
    DetectHostProfile(g_config, "C:\\x\\generic.exe", false, s);
    EXPECT_EQ(s.Oem, OemKind::VwOdis);
    EXPECT_STREQ(OemKindName(s.Oem), "VW/ODIS");
    g_config.BackendVariant = "TVN";
    DetectHostProfile(g_config, "C:\\x\\generic.exe", false, s);
    EXPECT_EQ(s.Oem, OemKind::MbXentry);
    g_config.BackendVariant = "Orvex";
    DetectHostProfile(g_config, "", false, s);
    EXPECT_EQ(s.Oem, OemKind::Piwis);
    g_config.BackendVariant.clear();
    s.Oem = OemKind::Unset;
    DetectHostProfile(g_config, "C:\\x\\generic.exe", false, s);
    EXPECT_EQ(s.Oem, OemKind::Generic);
    EXPECT_FALSE(s.ProfileExplicit);
}

TEST_F(HostProfile, PcmflashHostWithoutPcmflashEnabled) {
    DetectHostProfile(g_config, "D:\\PCMFlash\\PCMFlash.exe", true, s);
    EXPECT_TRUE(s.PcmflashHostDetected);
    EXPECT_EQ(Count("[Compat] Detected host process: PCMflash"), 1u);
    EXPECT_FALSE(IsPcmflashCompatActive(s));  // PCMflashEnabled=0

    // The path test alone suffices for the open rules.
    s.KeepToolkitLoaded = true;
    s.NoEcuMode = true;
    ApplyOpenProfileRules(g_config, true, s);
    EXPECT_FALSE(s.KeepToolkitLoaded);
    EXPECT_FALSE(s.NoEcuMode);
    EXPECT_EQ(Count("PCMflash: forcing KeepLoaded=0 to avoid stale toolkit lock"), 1u);
    EXPECT_EQ(Count("PCMflash: disabling NoEcuMode to allow real TX/RX"), 1u);
    ApplyOpenProfileRules(g_config, true, s);  // nothing left to change: no new lines
    EXPECT_EQ(Count("PCMflash: forcing KeepLoaded=0 to avoid stale toolkit lock"), 1u);
    EXPECT_EQ(Count("PCMflash: disabling NoEcuMode to allow real TX/RX"), 1u);
}

TEST_F(HostProfile, PcmflashCompatRulesNeedForceUnloadForRetention) {
    s.PCMflash.PCMflashEnabled = true;
    s.PcmflashProfile = true;
    s.KeepToolkitLoaded = true;
    s.WriteUsesSendRecv = false;
    s.PCMflash.UseSendRecvIso15765FD = true;
    ApplyOpenProfileRules(g_config, false, s);
    EXPECT_TRUE(s.KeepToolkitLoaded);  // ForceUnloadOnClose off, not a PCMflash path
    EXPECT_TRUE(s.WriteUsesSendRecv);
    s.PCMflash.ForceUnloadOnClose = true;
    ApplyOpenProfileRules(g_config, false, s);
    EXPECT_FALSE(s.KeepToolkitLoaded);
}

TEST_F(HostProfile, XentryOpenRulesLogOnlyOnChange) {
    s.XentryProfile = true;
    s.WriteUsesSendRecv = false;
    s.KeepToolkitLoaded = true;
    ApplyOpenProfileRules(g_config, false, s);
    EXPECT_TRUE(s.WriteUsesSendRecv);
    EXPECT_FALSE(s.KeepToolkitLoaded);
    EXPECT_EQ(s.Oem, OemKind::Generic);  // not explicit: no OEM change
    ApplyOpenProfileRules(g_config, false, s);
    EXPECT_EQ(Count("XENTRY: forcing WriteUsesSendRecv=1 for ISO15765"), 1u);
    EXPECT_EQ(Count("XENTRY: forcing KeepLoaded=0 to avoid stale toolkit lock"), 1u);
    EXPECT_EQ(Count("OEM detection overridden by Profile Mode: XENTRY"), 0u);

    s.ProfileExplicit = true;
    ApplyOpenProfileRules(g_config, false, s);
    EXPECT_EQ(s.Oem, OemKind::MbXentry);
    EXPECT_EQ(Count("OEM detection overridden by Profile Mode: XENTRY"), 1u);

    // Rules switched off in [Xentry] leave the settings alone.
    g_config.Xentry.UseSendRecvIso15765 = false;
    g_config.Xentry.ForceUnloadOnClose = false;
    s.WriteUsesSendRecv = false;
    s.KeepToolkitLoaded = true;
    ApplyOpenProfileRules(g_config, false, s);
    EXPECT_FALSE(s.WriteUsesSendRecv);
    EXPECT_TRUE(s.KeepToolkitLoaded);
}

TEST_F(HostProfile, XentryIdCorrection) {
    uint32_t tx = 0x123, rx = 0x100;
    FixXentryIso15765Ids(Rules(), tx, rx);  // not the XENTRY profile: untouched
    EXPECT_EQ(tx, 0x123u);
    EXPECT_EQ(rx, 0x100u);

    s.XentryProfile = true;
    for (uint32_t keep : {0x7DFu, 0x7E0u, 0x600u, 0x18DA10F1u}) {
        uint32_t t = keep, r = 0x7E8;
        FixXentryIso15765Ids(Rules(), t, r);
        EXPECT_EQ(t, keep);
        EXPECT_EQ(r, 0x7E8u);
    }
    FixXentryIso15765Ids(Rules(), tx, rx);
    EXPECT_EQ(tx, 0x7E0u);
    EXPECT_EQ(rx, 0x7E8u);
    EXPECT_EQ(Count("XENTRY: suspicious ISO15765 TX ID 0x123; using default 0x7E0"), 1u);

    g_config.DasIdPairs = {{0x7E1, 0x7E9}, {0x7E2, 0x7EA}};
    tx = 0x5FF;
    rx = 0;
    FixXentryIso15765Ids(Rules(), tx, rx);
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
    // The same settings on the configuration as it loads ([Profile] Mode) and on a session.
    ApplyPcmflashProfile(g_config);
    ApplyPcmflashProfile(s);
    const PcmflashSwitches* both[] = {&g_config.PCMflash, &s.PCMflash};
    for (const PcmflashSwitches* p : both) {
        EXPECT_TRUE(p->PCMflashEnabled && p->UseSendRecvIso15765 && p->UseSendRecvIso15765FD &&
                    p->TryIso15765ComParams && p->InstallIso15765ResponseFilters && p->ForceUnloadOnClose &&
                    p->UseKwpOnCan);
        EXPECT_FALSE(p->ForceRawCan);
    }
    EXPECT_TRUE(g_config.PcmflashProfile && s.PcmflashProfile);
    EXPECT_FALSE(g_config.UdsApduOnly || s.UdsApduOnly);
    EXPECT_TRUE(g_config.UdsApduOnlyExplicit && s.UdsApduOnlyExplicit);
}
