// The configuration as a host meets it: a copy of the driver under a family's name, its INI
// beside it, and the lines the load leaves in the log.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/support/driver_under_test.h"
#include "tests/support/temp_dir.h"

namespace {

size_t Find(const std::string& text, const std::string& line) { return text.find(line + "\r\n"); }

std::string ExampleIni(const std::string& name) {
    return ReadFileText(JoinPath(JoinPath(ORVEX_SOURCE_DIR, "examples"), name + ".ini"));
}

}  // namespace

TEST(ConfigLoad, Trx4820CopyReadsItsOwnIniAndLogsTheEarlyLinesInOrder) {
    DriverUnderTest d;
    ASSERT_TRUE(LoadDriverCopy(&d, "cfg_trx", "TRX4820_J2534",
                               "[Backend]\r\nType=TRX4820\r\n[Profile]\r\nMode=Tech2\r\n[DoIP]\r\nMode=Backend\r\n"));
    const std::string log = d.LogText();
    UnloadDriverCopy(&d);

    const size_t loading = log.find("Loading config from INI: ");
    ASSERT_NE(loading, std::string::npos) << log;
    const std::string iniLine = log.substr(loading, log.find("\r\n", loading) - loading);
    EXPECT_NE(iniLine.find("TRX4820_J2534.ini"), std::string::npos) << iniLine;
    EXPECT_NE(iniLine.find("cfg_trx"), std::string::npos) << iniLine;
    EXPECT_EQ(log.find("INI not found"), std::string::npos);

    const size_t retention = Find(log, "DpduSettings: KeepLoaded=0 ExitToolkitAfterSession=0 -> KeepToolkitLoaded=0");
    const size_t profile = Find(log, "Profile Mode ignored (unknown): Tech2");
    const size_t doip = Find(log, "DoIP Mode=Backend (DirectDoIP disabled)");
    ASSERT_NE(retention, std::string::npos) << log;
    ASSERT_NE(profile, std::string::npos) << log;
    ASSERT_NE(doip, std::string::npos) << log;
    EXPECT_LT(loading, retention);
    EXPECT_LT(retention, profile);
    EXPECT_LT(profile, doip);
    // The banner opens the file, before the held lines.
    EXPECT_EQ(log.rfind("Wrapper build: ", 0), 0u) << log;
    EXPECT_EQ(log.find("Configuration fatal"), std::string::npos) << log;
}

TEST(ConfigLoad, FamilyMismatchIsFatalButTheLibraryLoads) {
    DriverUnderTest d;
    ASSERT_TRUE(LoadDriverCopy(&d, "cfg_mismatch", "TRX4820_J2534", "[Backend]\nType=Orvex\n"));
    j2534::ULONG dev = 0;
    EXPECT_NE(d.Open(nullptr, &dev), 0);
    const std::string log = d.LogText();
    UnloadDriverCopy(&d);
    const size_t mismatch =
        Find(log, "Dpdu_Init: ERROR: Backend type in INI does not match DLL variant (INI=Orvex, DLL=TRX4820)");
    const size_t fatal = Find(log, "Configuration fatal: will deny PassThruOpen (not blocking DLL load)");
    ASSERT_NE(mismatch, std::string::npos) << log;
    ASSERT_NE(fatal, std::string::npos) << log;
    EXPECT_LT(mismatch, fatal);
}

TEST(ConfigLoad, LogEnabledZeroKeepsTheEarlyLinesOut) {
    DriverUnderTest d;
    ASSERT_TRUE(LoadDriverCopy(&d, "cfg_nolog", "Orvex_J2534", "[Backend]\nType=Orvex\n[Logging]\nLogEnabled=0\n"));
    j2534::ULONG dev = 0;
    d.Open(nullptr, &dev);
    d.Close(dev);
    UnloadDriverCopy(&d);
    EXPECT_FALSE(platform::GetFileInfo(d.LogPath()).exists);
}

TEST(ConfigLoad, ExampleInisLoadWithoutFatalError) {
    for (const char* family : {"Orvex_J2534", "TRX4820_J2534", "TVN_J2534"}) {
        const std::string ini = ExampleIni(family);
        ASSERT_FALSE(ini.empty()) << family;
        DriverUnderTest d;
        ASSERT_TRUE(LoadDriverCopy(&d, std::string("cfg_example_") + family, family, ini.c_str()));
        j2534::ULONG dev = 0;
        EXPECT_EQ(d.Open(nullptr, &dev), 0) << family << ": " << d.LastError();
        d.Close(dev);
        const std::string log = d.LogText();
        UnloadDriverCopy(&d);
        EXPECT_NE(log.find("Loading config from INI: "), std::string::npos) << family;
        EXPECT_EQ(log.find("ERROR"), std::string::npos) << family << "\n" << log;
        EXPECT_EQ(log.find("Configuration fatal"), std::string::npos) << family << "\n" << log;
    }
}

TEST(ConfigLoad, ExampleKeyLinesCarryNoTrailingRemark) {
    // The whole text after "=" is the value, so a remark behind a commented-out key would
    // become part of the value once a user removes the "; ".
    for (const char* family : {"Orvex_J2534", "TRX4820_J2534", "TVN_J2534"}) {
        const std::string ini = ExampleIni(family);
        ASSERT_FALSE(ini.empty()) << family;
        size_t start = 0;
        while (start < ini.size()) {
            size_t end = ini.find('\n', start);
            if (end == std::string::npos) end = ini.size();
            std::string line = ini.substr(start, end - start);
            start = end + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.compare(0, 2, "; ") == 0) line = line.substr(2);
            const size_t eq = line.find('=');
            if (eq == std::string::npos || eq == 0 || line.find(' ') < eq) continue;  // prose, not a key line
            const std::string value = line.substr(eq + 1);
            EXPECT_EQ(value.find_first_of(" \t;["), std::string::npos) << family << ": " << line;
        }
    }
}
