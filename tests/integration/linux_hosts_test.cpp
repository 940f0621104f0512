// Hosts on a 64-bit Linux declare the J2534 records with unsigned long: a C host and a Python
// ctypes host, each run as its own process against a copy of the driver beside the simulated VCI.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/support/driver_under_test.h"
#include "tests/support/temp_dir.h"

#if !defined(_WIN32)

namespace {

struct HostRun {
    int exitCode = -1;
    std::string output;
};

HostRun RunHost(const std::string& exe, const std::string& args, const std::string& dir) {
    const std::string outputPath = JoinPath(dir, "host.txt");
    HostRun r;
    r.exitCode = platform::RunProgram(exe, "\"" + exe + "\" " + args, outputPath, 120000);
    r.output = ReadFileText(outputPath);
    return r;
}

std::string DriverFolder(const char* scenario) {
    return PrepareDriverFolder(scenario, "Orvex_J2534", kQuickProbeIni, "Timing=zero\n");
}

void ExpectWhatTheCarAnswered(const HostRun& r) {
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("VIN WVSIM000000000001 (24 bytes)\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("F199 20 26 12 09\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("DATA_RATE 500000\n"), std::string::npos) << r.output;
}

}  // namespace

TEST(LinuxHosts, CHostDeclaredWithUnsignedLong) {
    const std::string dir = DriverFolder("c_host");
    ASSERT_FALSE(dir.empty());
    const HostRun r = RunHost(JoinPath(TestBinDir(), "c_host"), "\"" + JoinPath(dir, "Orvex_J2534.so") + "\"", dir);
    ExpectWhatTheCarAnswered(r);
    EXPECT_NE(r.output.find("SIGSEGV handler is the host's again\n"), std::string::npos) << r.output;
}

TEST(LinuxHosts, PythonCtypesHost) {
    const std::string python = "/usr/bin/python3";
    std::string ignored;
    if (!platform::ReadWholeFile(python, &ignored)) GTEST_SKIP() << "no " << python;
    const std::string dir = DriverFolder("ctypes_host");
    ASSERT_FALSE(dir.empty());
    // Under the sanitizers the driver needs their runtime, which python itself does not load.
    std::string preload = ORVEX_SANITIZER_PRELOAD;
    if (!preload.empty()) {
        platform::SetEnv("LD_PRELOAD", preload.c_str());
        platform::SetEnv("ASAN_OPTIONS", "detect_leaks=0");
    }
    const HostRun r = RunHost(python,
                              "\"" + std::string(ORVEX_SOURCE_DIR) + "/tests/hosts/ctypes_host.py\" \"" +
                                  JoinPath(dir, "Orvex_J2534.so") + "\"",
                              dir);
    if (!preload.empty()) {
        platform::SetEnv("LD_PRELOAD", nullptr);
        platform::SetEnv("ASAN_OPTIONS", nullptr);
    }
    ExpectWhatTheCarAnswered(r);
}

#endif
