// The INI profile functions: the same expectations for the Windows API (under Wine) and the
// POSIX equivalent.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {
std::string WriteIni(const std::string& text) {
    std::string path = JoinPath(MakeScenarioDir("ini"), "t.ini");
    platform::WriteWholeFile(path, text);
    return path;
}
}  // namespace

TEST(IniProfile, ReadsCaseInsensitiveFirstMatchTrimmed) {
    std::string ini = WriteIni(
        "[Ignition]\r\nForceIgnitionOn = 1 \r\nforceignitionon=0\r\n  Name  =  two words  \r\n"
        "[ignition]\r\nOther=5\r\n[DpduSettings]\r\nKeepLoaded=-1\r\nQuoted=\"a b\"\r\n");
    EXPECT_EQ(platform::ProfileGetInt("IGNITION", "forceIgnitionOn", -1, ini), 1);
    EXPECT_EQ(platform::ProfileGetString("ignition", "NAME", "", ini), "two words");
    EXPECT_EQ(platform::ProfileGetInt("DpduSettings", "KeepLoaded", 7, ini), -1);
    EXPECT_EQ(platform::ProfileGetString("DpduSettings", "Quoted", "", ini), "a b");
}

TEST(IniProfile, DefaultsForMissingFileSectionOrKey) {
    std::string ini = WriteIni("[A]\r\nx=1\r\n");
    EXPECT_EQ(platform::ProfileGetInt("A", "y", -1, ini), -1);
    EXPECT_EQ(platform::ProfileGetInt("B", "x", 42, ini), 42);
    EXPECT_EQ(platform::ProfileGetInt("A", "x", 0, ini + ".missing"), 0);
    EXPECT_EQ(platform::ProfileGetString("A", "y", "dflt", ini), "dflt");
    EXPECT_EQ(platform::ProfileGetString("A", "x", "dflt", ini + ".missing"), "dflt");
}

TEST(IniProfile, IntegersAndBuffer) {
    std::string ini = WriteIni("[A]\r\nn=12abc\r\nw=yes\r\np=+3\r\nlong=abcdefghij\r\n");
    EXPECT_EQ(platform::ProfileGetInt("A", "n", -1, ini), 12);
    EXPECT_EQ(platform::ProfileGetInt("A", "w", -1, ini), 0);
    EXPECT_EQ(platform::ProfileGetInt("A", "p", -1, ini), 3);
    EXPECT_EQ(platform::ProfileGetString("A", "long", "", ini, 5), "abcd");
}

TEST(IniProfile, WriteCreatesFileSectionAndKey) {
    std::string ini = JoinPath(MakeScenarioDir("ini_new"), "n.ini");
    ASSERT_TRUE(platform::ProfileWriteString("Ignition", "ForceIgnitionOn", "0", ini));
    platform::ProfileFlush(ini);
    EXPECT_EQ(platform::ProfileGetInt("Ignition", "ForceIgnitionOn", -1, ini), 0);
    ASSERT_TRUE(platform::ProfileWriteString("Bench", "BenchEnabled", "1", ini));
    platform::ProfileFlush(ini);
    EXPECT_EQ(platform::ProfileGetInt("Bench", "BenchEnabled", -1, ini), 1);
    EXPECT_EQ(platform::ProfileGetInt("Ignition", "ForceIgnitionOn", -1, ini), 0);
}

TEST(IniProfile, WriteReplacesFirstKeyAndKeepsTheRest) {
    std::string ini = WriteIni(
        "; driver settings\r\n[Backend]\r\nType=Orvex\r\n[Ignition]\r\nForceIgnitionOn=1\r\nState=1\r\n"
        "[Bench]\r\nBenchEnabled=0\r\n");
    ASSERT_TRUE(platform::ProfileWriteString("ignition", "forceignitionon", "0", ini));
    ASSERT_TRUE(platform::ProfileWriteString("Ignition", "NewKey", "v", ini));
    platform::ProfileFlush(ini);
    EXPECT_EQ(platform::ProfileGetInt("Ignition", "ForceIgnitionOn", -1, ini), 0);
    EXPECT_EQ(platform::ProfileGetString("Ignition", "NewKey", "", ini), "v");
    EXPECT_EQ(platform::ProfileGetString("Backend", "Type", "", ini), "Orvex");
    EXPECT_EQ(platform::ProfileGetInt("Ignition", "State", -1, ini), 1);
    EXPECT_EQ(platform::ProfileGetInt("Bench", "BenchEnabled", -1, ini), 0);
    const std::string text = ReadFileText(ini);
    EXPECT_NE(text.find("; driver settings"), std::string::npos);
    EXPECT_EQ(text.find("ForceIgnitionOn=1"), std::string::npos);
    // The new key lands in its own section, before the next one.
    EXPECT_LT(text.find("NewKey=v"), text.find("[Bench]"));
}

TEST(IniProfile, DeleteKeyAndSectionKeepTheRest) {
    std::string ini = WriteIni(
        "; panel\r\n[Bench]\r\nBenchEnabled=1\r\n[__Probe]\r\n_w=1\r\nother=2\r\n[Ignition]\r\nForceIgnitionOn=0\r\n");
    ASSERT_TRUE(platform::ProfileDeleteKey("__probe", "_W", ini));
    platform::ProfileFlush(ini);
    EXPECT_EQ(platform::ProfileGetString("__Probe", "_w", "gone", ini), "gone");
    EXPECT_EQ(platform::ProfileGetInt("__Probe", "other", -1, ini), 2);
    ASSERT_TRUE(platform::ProfileDeleteSection("__PROBE", ini));
    platform::ProfileFlush(ini);
    EXPECT_EQ(platform::ProfileGetInt("__Probe", "other", -1, ini), -1);
    EXPECT_EQ(platform::ProfileGetInt("Bench", "BenchEnabled", -1, ini), 1);
    EXPECT_EQ(platform::ProfileGetInt("Ignition", "ForceIgnitionOn", -1, ini), 0);
    const std::string text = ReadFileText(ini);
    EXPECT_EQ(text.find("__Probe"), std::string::npos);
    EXPECT_NE(text.find("; panel"), std::string::npos);
    // What is not there counts as deleted; the file stays as it is.
    EXPECT_TRUE(platform::ProfileDeleteKey("Bench", "Missing", ini));
    EXPECT_TRUE(platform::ProfileDeleteSection("Missing", ini));
    platform::ProfileFlush(ini);
    EXPECT_EQ(ReadFileText(ini), text);
}
