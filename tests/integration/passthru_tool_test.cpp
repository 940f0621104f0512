// The passthru host program against the driver and the simulated VCI, as a user runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "tests/support/driver_under_test.h"
#include "tests/support/pcapng_reader.h"
#include "tests/support/temp_dir.h"
#include "tools/registration.h"

namespace {

const std::string kExe = std::string(platform::SharedLibrarySuffix()) == ".dll" ? ".exe" : "";
std::string Quote(const std::string& s) { return "\"" + s + "\""; }

struct ToolRun {
    int exitCode = -1;
    std::string output;
};

ToolRun Passthru(const std::string& args, const std::string& outputDir) {
    const std::string exe = JoinPath(TestBinDir(), "passthru" + kExe);
    const std::string outputPath = JoinPath(outputDir, "passthru.txt");
    ToolRun r;
    r.exitCode = platform::RunProgram(exe, Quote(exe) + " " + args, outputPath, 120000);
    r.output = ReadFileText(outputPath);
    return r;
}

}  // namespace

TEST(PassthruTool, VinDtcObdAndFlashAgainstTheSimulatedCar) {
    const std::string dir = PrepareDriverFolder("passthru", "Orvex_J2534", kQuickProbeIni, "Timing=zero\n");
    ASSERT_FALSE(dir.empty());
    const std::string driver = JoinPath(dir, "Orvex_J2534" + std::string(platform::SharedLibrarySuffix()));
    const std::string image = JoinPath(dir, "image.bin");
    ASSERT_TRUE(platform::WriteWholeFile(image, std::string(10000, '\x5A')));

    ToolRun r = Passthru(Quote(driver) + " vin dtc obd flash " + Quote(image), dir);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("F190 = \"WVSIM000000000001\""), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("2 DTC(s): 012300 status 2F, C14100 status 09"), std::string::npos);
    EXPECT_NE(r.output.find("downloading 10000 bytes in blocks of 4088"), std::string::npos);
    EXPECT_NE(r.output.find("< 77"), std::string::npos);
    // vin, dtc, seven OBD-II requests (01 00/20/40, 01 01, 03, live values, 09 02), 10 02, 34, 3 x 36, 37
    EXPECT_NE(r.output.find("15 of 15 requests answered positively"), std::string::npos);

    // The OBD-II scan: a line per ECU that answered the functional requests (lines compared
    // without the carriage returns of Windows).
    std::string out = r.output;
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    for (const char* line : {"\n  7E8  PIDs 01 04 05 0C 0D 0F 11 1C 2F 42 46 51\n  7E9  PIDs 01 0D\n",
                             "\n  7E8  MIL on, 2 DTCs\n  7E9  MIL on, 1 DTC\n",
                             "\n  7E8  stored DTCs: P0123 U0141\n  7E9  stored DTCs: P0700\n",
                             "\n  7E8  VIN WVSIM000000000001\n  7E9  VIN WVSIM000000000001\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line << out;
    const std::string liveLine = "\n> 01 0C 0D 05 04 11 2F\n  7E8  ";
    const size_t live = out.find(liveLine);
    ASSERT_NE(live, std::string::npos);
    const size_t from = live + liveLine.size();
    const std::string engine = out.substr(from, out.find('\n', from) - from);
    double rpm = 0, kmh = 0;
    ASSERT_EQ(std::sscanf(engine.c_str(), "%lf rpm, %lf km/h, coolant", &rpm, &kmh), 2) << engine;
    EXPECT_GE(rpm, 760);
    EXPECT_LE(kmh, 110);
    EXPECT_NE(out.find("\n  7E9  " + std::to_string(int(kmh)) + " km/h\n"), std::string::npos) << out;

    // A negative answer is named, and the exit code says not everything went well.
    r = Passthru(Quote(driver) + " \"22 12 34\" 3E00", dir);
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("< 7F 22 31   negative: requestOutOfRange (0x31)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("1 of 2 requests answered positively"), std::string::npos);

    // Over CAN the program does the ISO-TP of the multi-frame answer itself.
    r = Passthru("--can " + Quote(driver) + " vin", dir);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("F190 = \"WVSIM000000000001\""), std::string::npos) << r.output;
}

TEST(PassthruTool, LibrariesThatCannotServeEndWithAClearMessage) {
    const std::string dir = MakeScenarioDir("passthru_bad");
    ToolRun r = Passthru(Quote(JoinPath(dir, "missing" + std::string(platform::SharedLibrarySuffix()))) + " vin", dir);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.output.find("passthru: cannot load the J2534 library"), std::string::npos) << r.output;

    // A library without the J2534 exports (the simulated VCI itself).
    const std::string notJ2534 = JoinPath(dir, VciSimFileName());
    ASSERT_TRUE(CopyFileTo(JoinPath(TestBinDir(), VciSimFileName()), notJ2534));
    r = Passthru(Quote(notJ2534) + " vin", dir);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.output.find("is not a J2534 04.04 library: it lacks PassThruOpen"), std::string::npos) << r.output;

    // A driver that cannot open (its configuration is unusable).
    const std::string broken = JoinPath(dir, "Orvex_J2534" + std::string(platform::SharedLibrarySuffix()));
    ASSERT_TRUE(CopyFileTo(BuiltLibrary("Orvex_J2534"), broken));
    r = Passthru(Quote(broken) + " vin", dir);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.output.find("passthru: PassThruOpen returned 0x07 (Configuration error (see log file))"),
              std::string::npos)
        << r.output;

    r = Passthru("", dir);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("usage: passthru"), std::string::npos);
}

// Hosts find drivers where orvex-register puts them; so does passthru, by name. The entries go
// to a place of this test's own (a registry key below HKLM on Windows, a folder on Linux).
TEST(PassthruTool, FindsRegisteredDriversByName) {
    const std::string dir = PrepareDriverFolder("passthru_registered", "Orvex_J2534", kQuickProbeIni, nullptr);
    ASSERT_FALSE(dir.empty());
    DriverPlaces places;
    const std::string root = "SOFTWARE\\OrvexPassthruTest_" + std::to_string(platform::CurrentProcessId());
    places.key0404 = root + "\\PassThruSupport.04.04";
    places.key0202 = root + "\\PassThruSupport";
    places.passthruDir = JoinPath(dir, "passthru");
    const std::string where = std::string(platform::SharedLibrarySuffix()) == ".dll"
                                  ? "--registry-key " + Quote(places.key0404)
                                  : "--passthru-dir " + Quote(places.passthruDir);
    std::string out, err;
    ASSERT_EQ(RunRegisterCommand({"install"}, places, dir, &out, &err), kRegisterOk) << err;

    ToolRun r = Passthru(where + " --list", dir);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("MIVRA Orvex J2534"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(JoinPath(dir, "Orvex_J2534")), std::string::npos) << r.output;

    r = Passthru(where + " --driver \"MIVRA Orvex J2534\" vin", dir);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("F190 = \"WVSIM000000000001\""), std::string::npos) << r.output;
    r = Passthru(where + " --driver \"Nobody's Device\" vin", dir);
    EXPECT_EQ(r.exitCode, 3) << r.output;

    ASSERT_EQ(RunRegisterCommand({"uninstall"}, places, dir, &out, &err), kRegisterOk) << err;
    r = Passthru(where + " --list", dir);
    EXPECT_NE(r.output.find("no J2534 driver is registered"), std::string::npos) << r.output;
#if defined(_WIN32)
    for (int view : {32, 64})
        for (const std::string& key : {places.key0404, places.key0202, root}) platform::RegistryDeleteKeyIfEmpty(key, view);
#endif
}

// --capture turns the driver's capture on for the session; an INI that says Enabled=0 wins.
TEST(PassthruTool, CaptureOptionWritesThePcapng) {
    const std::string dir = PrepareDriverFolder("passthru_capture", "Orvex_J2534", kQuickProbeIni, "Timing=zero\n");
    ASSERT_FALSE(dir.empty());
    const std::string driver = JoinPath(dir, "Orvex_J2534" + std::string(platform::SharedLibrarySuffix()));
    const std::string file = JoinPath(dir, "session.pcapng");
    ToolRun r = Passthru("--capture " + Quote(file) + " " + Quote(driver) + " vin", dir);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const PcapngFile f = ReadPcapng(ReadFileText(file));
    EXPECT_EQ(f.error, "");
    ASSERT_EQ(f.interfaces.size(), 1u);
    EXPECT_EQ(f.interfaces[0].name, "ch1 ISO15765 500000");
    EXPECT_EQ(f.packets.size(), 2u);

    const std::string ini = JoinPath(dir, "Orvex_J2534.ini");
    ASSERT_TRUE(platform::WriteWholeFile(ini, ReadFileText(ini) + "\n[Capture]\nEnabled=0\n"));
    const std::string second = JoinPath(dir, "second.pcapng");
    r = Passthru("--capture " + Quote(second) + " " + Quote(driver) + " vin", dir);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_FALSE(platform::GetFileInfo(second).exists);
}
