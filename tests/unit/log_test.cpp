// The diagnostic log: where it goes, how lines are cut, rotation and the mirror.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/config/log_path.h"
#include "driver/log/log.h"
#include "platform/platform.h"
#include "tests/support/scoped_log.h"
#include "tests/support/temp_dir.h"

namespace {
const char S = platform::kPathSeparator;
std::string P(const std::string& s) {  // writes test paths with '/' and converts them
    std::string r = s;
    for (char& c : r)
        if (c == '/') c = S;
    return r;
}
}  // namespace

TEST(LogPath, DefaultsToLogsFolderBesideTheLibrary) {
    EXPECT_EQ(ResolveLogPath("", "", P("C:/Drv"), "Orvex_J2534"), P("C:/Drv/Logs/Orvex_J2534.log"));
    EXPECT_EQ(ResolveLogPath("", "", P("C:/Drv/"), "TVN_J2534"), P("C:/Drv/Logs/TVN_J2534.log"));
}

TEST(LogPath, FileNameRules) {
    // A "logs\" prefix is not doubled; an absolute file is used unchanged.
    EXPECT_EQ(ResolveLogPath("", "logs\\trace.log", P("C:/Drv"), "x"), P("C:/Drv/Logs/trace.log"));
    EXPECT_EQ(ResolveLogPath("", "LOGS/trace.log", P("C:/Drv"), "x"), P("C:/Drv/Logs/trace.log"));
    EXPECT_EQ(ResolveLogPath("", "D:\\x\\trace.log", P("C:/Drv"), "x"), "D:\\x\\trace.log");
    EXPECT_EQ(ResolveLogPath("", "/var/log/t.log", P("C:/Drv"), "x"), "/var/log/t.log");
    // Without a module folder the name stays relative to the current directory.
    EXPECT_EQ(ResolveLogPath("", "t.log", "", "x"), "t.log");
    EXPECT_EQ(ResolveLogPath("", "logs\\t.log", "", "x"), "logs\\t.log");
}

TEST(LogPath, DirectoryRules) {
    EXPECT_EQ(ResolveLogPath("sub", "", P("C:/Drv"), "Orvex_J2534"), P("C:/Drv/sub/Orvex_J2534.log"));
    EXPECT_EQ(ResolveLogPath("C:\\L", "a\\b.log", P("C:/Drv"), "x"), std::string("C:\\L") + S + "b.log");
    EXPECT_EQ(ResolveLogPath("C:\\L\\", "a/b.log", P("C:/Drv"), "x"), "C:\\L\\b.log");
    EXPECT_EQ(ResolveLogPath("\\\\srv\\share", "", P("C:/Drv"), "m"), std::string("\\\\srv\\share") + S + "m.log");
}

TEST(LogMirror, ArchitectureSuffixedNames) {
    EXPECT_EQ(MirrorLogPath(P("C:/D/Logs/Orvex_J2534_x86.log"), "Orvex_J2534_x86"), P("C:/D/Logs/Orvex_J2534.log"));
    EXPECT_EQ(MirrorLogPath(P("C:/D/Logs/Orvex_J2534_X64.log"), "Orvex_J2534_X64"), P("C:/D/Logs/Orvex_J2534.log"));
    // The mirror takes the module name, not the log's stem.
    EXPECT_EQ(MirrorLogPath(P("C:/D/trace_x86.txt"), "TVN_J2534_x86"), P("C:/D/TVN_J2534.txt"));
    EXPECT_EQ(MirrorLogPath(P("C:/D/trace_x86.txt"), ""), P("C:/D/trace.txt"));
    EXPECT_EQ(MirrorLogPath(P("C:/D/trace_x86"), "m"), P("C:/D/m"));
    // No suffix, too short, or a mirror equal to the log itself: no mirror.
    EXPECT_EQ(MirrorLogPath(P("C:/D/Orvex_J2534.log"), "Orvex_J2534"), "");
    EXPECT_EQ(MirrorLogPath(P("C:/D/x86.log"), "m"), "");
    EXPECT_EQ(MirrorLogPath(P("C:/D/m_x86.log"), "m_x86_x86"), "");
}

TEST(LogRotation, ArchiveNames) {
    EXPECT_EQ(RotationArchiveName(P("C:/D/Logs/o.log"), "20261208_101010", 0), P("C:/D/Logs/o_20261208_101010.log"));
    EXPECT_EQ(RotationArchiveName(P("C:/D/Logs/o.log"), "20261208_101010", 2), P("C:/D/Logs/o_20261208_101010_2.log"));
    // A dot in a folder name is not an extension.
    EXPECT_EQ(RotationArchiveName(P("C:/a.b/log"), "S", 1), P("C:/a.b/log_S_1"));
}

TEST(LogRotation, RenamesToFirstFreeNameAndGivesUpAfterHundred) {
    std::string dir = MakeScenarioDir("rotation");
    std::string log = JoinPath(dir, "o.log");
    ASSERT_TRUE(platform::WriteWholeFile(log, std::string(kLogRotateBytes, 'x')));
    platform::WriteWholeFile(JoinPath(dir, "o_S.log"), "old");
    EXPECT_TRUE(RotateLog(log, "S"));
    EXPECT_FALSE(platform::GetFileInfo(log).exists);
    EXPECT_EQ(ReadFileText(JoinPath(dir, "o_S.log")), "old");
    EXPECT_EQ(platform::GetFileInfo(JoinPath(dir, "o_S_1.log")).size, kLogRotateBytes);

    // With all hundred names taken the file keeps its name.
    std::string full = JoinPath(dir, "f.log");
    platform::WriteWholeFile(full, std::string(kLogRotateBytes, 'y'));
    for (unsigned n = 0; n < 100; ++n) platform::WriteWholeFile(RotationArchiveName(full, "T", n), "");
    EXPECT_FALSE(RotateLog(full, "T"));
    EXPECT_TRUE(platform::GetFileInfo(full).exists);
}

TEST(LogRotation, AppendRefusesAFileAtTheLimit) {
    std::string log = JoinPath(MakeScenarioDir("append_limit"), "a.log");
    ASSERT_TRUE(platform::WriteWholeFile(log, std::string(99, 'x')));
    EXPECT_EQ(platform::AppendToFile(log, "y", 1, 100), platform::AppendResult::Written);  // 99 bytes: below
    EXPECT_EQ(platform::AppendToFile(log, "z", 1, 100), platform::AppendResult::Full);
    EXPECT_EQ(ReadFileText(log), std::string(99, 'x') + "y");
    EXPECT_EQ(platform::AppendToFile(JoinPath(JoinPath(log, "no"), "dir"), "z", 1), platform::AppendResult::NotOpened);
}

class LogWriting : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeScenarioDir("logwrite");
        path_ = JoinPath(JoinPath(dir_, "Logs"), "w.log");
        log_.To(path_);
    }
    std::string Text() const { return ReadFileText(path_); }
    ScopedLog log_;
    std::string path_;
    std::string dir_;
};

TEST_F(LogWriting, CreatesFolderWritesBannerOnceAndCrLfLines) {
    WriteLogLine("first");
    WriteLogLine("second");
    std::string text = Text();
    size_t first = text.find("first\r\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(text.find("second\r\n"), std::string::npos);
    // The banner precedes the first line of this file only if this process has not written one
    // yet; it never appears twice in a row.
    size_t banner = text.find("Wrapper build: ");
    if (banner != std::string::npos) {
        EXPECT_LT(banner, first);
    }
}

TEST_F(LogWriting, FormattingLimits) {
    std::string big(5000, 'a');
    LogPrintf("%s", big.c_str());
    LogPrintfShort("%s", big.c_str());
    std::string text = Text();
    EXPECT_NE(text.find(std::string(4095, 'a') + "\r\n"), std::string::npos);
    EXPECT_EQ(text.find(std::string(4096, 'a')), std::string::npos);
    EXPECT_NE(text.find("\n" + std::string(2046, 'a') + "\r\n"), std::string::npos);
}

TEST_F(LogWriting, DisabledOrPathlessWritesNothing) {
    log_.To(path_, false);
    LogPrintf("x %d", 1);
    WriteLogLine("y");
    EXPECT_FALSE(platform::GetFileInfo(path_).exists);
    log_.To(std::string());
    WriteLogLine("z");  // must simply return
}

TEST_F(LogWriting, OneByteShortOfTheLimitGrowsOn) {
    WriteLogLine("warm-up");
    ASSERT_TRUE(platform::WriteWholeFile(path_, std::string(kLogRotateBytes - 1, 'z')));
    WriteLogLine("still here");
    EXPECT_EQ(platform::GetFileInfo(path_).size, kLogRotateBytes - 1 + 12);
}

TEST_F(LogWriting, RotationStartsFreshFileWithBannerAfterTheCausingLine) {
    WriteLogLine("warm-up");
    ASSERT_TRUE(platform::WriteWholeFile(path_, std::string(kLogRotateBytes, 'z')));
    WriteLogLine("causes rotation");
    WriteLogLine("after");
    std::string text = Text();
    EXPECT_EQ(text.find("causes rotation\r\n"), 0u);
    size_t banner = text.find("Wrapper build: ");
    ASSERT_NE(banner, std::string::npos);
    EXPECT_LT(banner, text.find("after\r\n"));
}

TEST(LogHex, FormatHexBytes) {
    uint8_t data[40];
    for (int i = 0; i < 40; ++i) data[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(FormatHexBytes(nullptr, 5), "");
    EXPECT_EQ(FormatHexBytes(data, 0), "");
    EXPECT_EQ(FormatHexBytes(data + 1, 1), "07");
    std::string s32 = FormatHexBytes(data, 32);
    EXPECT_EQ(s32.size(), 32u * 3 - 1);
    EXPECT_EQ(s32.substr(0, 11), "00 07 0E 15");
    EXPECT_EQ(FormatHexBytes(data, 33), s32 + " ...");
}

TEST(EarlyLog, AppendsLineWithCrLfAndCutsAt1023) {
    std::string dir = MakeScenarioDir("early");
    std::string saved;
    bool had = platform::GetEnv("PROGRAMDATA", &saved);
    platform::SetEnv("PROGRAMDATA", dir.c_str());
    WriteEarlyLog("hello %d", 42);
    WriteEarlyLog("%s", std::string(1022, 'q').c_str());
    WriteEarlyLog("%s", std::string(2000, 'r').c_str());
    platform::SetEnv("PROGRAMDATA", had ? saved.c_str() : nullptr);
    std::string text = ReadFileText(JoinPath(JoinPath(JoinPath(dir, "Zelkor-Tech"), "MIVRA_J2534"), "loader.log"));
    EXPECT_EQ(text.substr(0, 10), "hello 42\r\n");
    // 1022 characters keep CR only; 2000 are cut to 1023 and keep neither.
    EXPECT_EQ(text.substr(10), std::string(1022, 'q') + "\r" + std::string(1023, 'r'));
}
