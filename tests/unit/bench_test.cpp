// The ignition state hosts are given (from the INI files the control panel writes) and the
// battery value reported when the VCI gives none.
#include <gtest/gtest.h>

#include <string>

#include "driver/bench/bench.h"
#include "driver/config/driver_config.h"
#include "platform/platform.h"
#include "tests/support/scoped_log.h"
#include "tests/support/temp_dir.h"

namespace {

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
    return n;
}

class Ignition : public ::testing::Test {
protected:
    void SetUp() override {
        saved = g_config;
        dir = MakeScenarioDir("ignition");
        host = JoinPath(dir, "host");
        platform::CreateOneDirectory(host);
        log_.To(JoinPath(dir, "driver.log"));
        g_config.IniPath = JoinPath(dir, "Orvex_J2534.ini");
        platform::WriteWholeFile(g_config.IniPath, "[Backend]\nType=Orvex\n");
        ResetIgnitionState(g_config);
        clock = {&Now, &Sleep, &nowUs};
    }
    void TearDown() override {
        platform::SetTestClock(nullptr);
        g_config = saved;
        ResetIgnitionState(g_config);
    }
    void Force(const std::string& file, const char* value) {
        ASSERT_TRUE(platform::ProfileWriteString("Ignition", "ForceIgnitionOn", value, file));
    }
    std::string Log() const { return ReadFileText(log_.Path()); }

    static uint64_t Now(void* c) { return *static_cast<uint64_t*>(c); }
    static void Sleep(void* c, uint64_t us) { *static_cast<uint64_t*>(c) += us; }

    DriverConfig saved;
    ScopedLog log_;
    std::string dir, host;
    uint64_t nowUs = 5000000;
    platform::TestClock clock{};
};

}  // namespace

TEST_F(Ignition, OnWithoutAnyForcedValue) {
    RefreshIgnitionFromIniIn(host);
    EXPECT_EQ(IgnitionSense(), 1u);
    EXPECT_EQ(IgnitionConfigValue(), 1u);
    // [Ignition] IgnitionState=off starts it off, and it stays off without a forced value.
    DriverConfig off;
    off.IgnitionOn = off.Ignition.IgnitionState = false;
    ResetIgnitionState(off);
    EXPECT_EQ(IgnitionSense(), 0u);
    EXPECT_EQ(IgnitionState(), 0u);
}

TEST_F(Ignition, HostFolderFirstThenTheLoadedIni) {
    const std::string orvex = JoinPath(host, "Orvex_J2534.ini"), trx = JoinPath(host, "TRX4820_J2534.ini"),
                      tvn = JoinPath(host, "TVN_J2534.ini");
    Force(g_config.IniPath, "0");
    RefreshIgnitionFromIniIn(host);
    EXPECT_EQ(IgnitionState(), 0u);
    EXPECT_NE(Log().find("Ignition state updated from INI ForceIgnitionOn: OFF ini=" + g_config.IniPath),
              std::string::npos);

    Force(tvn, "1");
    RefreshIgnitionFromIniIn(host);
    EXPECT_EQ(IgnitionState(), 1u);
    EXPECT_NE(Log().find("Ignition state updated from INI ForceIgnitionOn: ON ini=" + tvn), std::string::npos);
    // Values other than 0 and 1, a missing key and a folder of that name move on to the next.
    Force(orvex, "2");
    Force(trx, "0");
    RefreshIgnitionFromIniIn(host);
    EXPECT_EQ(IgnitionState(), 0u);
    EXPECT_NE(Log().find("OFF ini=" + trx), std::string::npos);
    Force(trx, "-1");
    ASSERT_TRUE(platform::RemoveFile(orvex));
    platform::CreateOneDirectory(orvex);
    RefreshIgnitionFromIniIn(host);
    EXPECT_EQ(IgnitionState(), 1u);
    // No candidate holds a value: the state stays.
    for (const std::string& f : {tvn, g_config.IniPath}) platform::ProfileDeleteKey("Ignition", "ForceIgnitionOn", f);
    Force(trx, "yes");  // read as a number: 0
    RefreshIgnitionFromIniIn(host);
    EXPECT_EQ(IgnitionState(), 0u);
    platform::ProfileDeleteKey("Ignition", "ForceIgnitionOn", trx);
    RefreshIgnitionFromIniIn(host);
    EXPECT_EQ(IgnitionState(), 0u);
    EXPECT_EQ(IgnitionConfigValue(), 0u);
}

TEST_F(Ignition, EachLineOnChangeAndTheQueryOncePerSecond) {
    platform::SetTestClock(&clock);
    Force(g_config.IniPath, "1");
    EXPECT_EQ(IgnitionSense(), 1u);
    EXPECT_EQ(IgnitionSense(), 1u);
    nowUs += 999000;
    EXPECT_EQ(IgnitionSense(), 1u);
    std::string log = Log();
    EXPECT_EQ(Count(log, "Ignition state updated from INI ForceIgnitionOn: ON"), 1u);
    EXPECT_EQ(Count(log, "PassThruIoctl IGNITION_SENSE -> 1"), 1u);
    nowUs += 2000;
    IgnitionSense();
    EXPECT_EQ(Count(Log(), "PassThruIoctl IGNITION_SENSE -> 1"), 2u);

    // A change is logged at once, in that order; the configuration query logs nothing.
    Force(g_config.IniPath, "0");
    EXPECT_EQ(IgnitionSense(), 0u);
    log = Log();
    const size_t updated = log.find("Ignition state updated from INI ForceIgnitionOn: OFF");
    ASSERT_NE(updated, std::string::npos);
    EXPECT_LT(updated, log.find("PassThruIoctl IGNITION_SENSE -> 0"));
    Force(g_config.IniPath, "1");
    EXPECT_EQ(IgnitionConfigValue(), 1u);
    EXPECT_EQ(IgnitionState(), 1u);
    EXPECT_EQ(Count(Log(), "PassThruIoctl IGNITION_SENSE"), 3u);
}

TEST(Battery, FallbackAndWhenTheVciIsNotAsked) {
    const DriverConfig saved = g_config;
    g_config = DriverConfig();
    EXPECT_EQ(FallbackVbatt(0), 12500u);
    EXPECT_EQ(FallbackVbatt(13800), 13800u);  // the last plausible reading
    EXPECT_EQ(FallbackVbatt(8000), 12500u);
    EXPECT_EQ(FallbackVbatt(18001), 12500u);
    EXPECT_TRUE(VbattPlausible(9000) && VbattPlausible(18000));
    g_config.BatteryConfig.DefaultMilliVolts = 30000;
    EXPECT_EQ(FallbackVbatt(0), 18000u);
    g_config.BatteryConfig.DefaultMilliVolts = 5000;
    EXPECT_EQ(FallbackVbatt(0), 9000u);

    EXPECT_FALSE(VbattFromSettings(false));
    EXPECT_TRUE(VbattFromSettings(true));  // the session's NoEcu mode
    g_config = DriverConfig();
    g_config.BatteryConfig.AlwaysOverride = true;
    EXPECT_TRUE(VbattFromSettings(false));
    g_config = saved;
}
