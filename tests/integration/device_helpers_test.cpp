// What PassThruOpen does outside the process: the cross-process instance lock and the start
// of the ignition helper program.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/support/driver_under_test.h"
#include "tests/support/temp_dir.h"

namespace {
const std::string kExe = std::string(platform::SharedLibrarySuffix()) == ".dll" ? ".exe" : "";

// Helper programs run detached, so their results arrive as files.
std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 600; ++i) {
        if (platform::GetFileInfo(path).exists) return ReadFileText(path);
        platform::SleepMs(50);
    }
    return "(no result)";
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// Runs a second host process that tries PassThruOpen on the given driver copy.
std::string OpenFromAnotherProcess(const std::string& driverPath, const std::string& resultPath) {
    std::string probe = JoinPath(TestBinDir(), "open_probe" + kExe);
    platform::RemoveFile(resultPath);
    if (!platform::StartDetachedProcess(probe, Quote(probe) + " " + Quote(driverPath) + " " + Quote(resultPath)))
        return "(not started)";
    return WaitForFile(resultPath);
}

// Another run of these tests on the machine may hold the lock for a moment: a success
// only has to come within a few tries.
bool OpensFromAnotherProcessSoon(const std::string& driverPath, const std::string& resultPath) {
    for (int i = 0; i < 5; ++i) {
        if (OpenFromAnotherProcess(driverPath, resultPath).substr(0, 5) == "rc=0\n") return true;
        platform::SleepMs(200);
    }
    return false;
}

// POSIX keeps the lock file in TMPDIR: a folder of this test's own keeps parallel runs apart.
void PrivateTempDir() { platform::SetEnv("TMPDIR", MakeScenarioDir("tmp").c_str()); }

std::string XentryIni() {
    return "[Backend]\nType=Orvex\n[DpduSettings]\nDllName=" + VciSimFileName() + "\n[Profile]\nMode=XENTRY\n";
}

std::string RecordedArgs(const std::string& exe) { return WaitForFile(exe + ".args"); }

// A copy of the argument recorder that the POSIX loader may execute.
bool InstallRecorder(const std::string& target) {
    std::error_code ec;
    std::filesystem::copy_file(JoinPath(TestBinDir(), "record_args" + kExe), target,
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return false;
    std::filesystem::permissions(target, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add, ec);
    return !ec;
}
}  // namespace

// One test, not two: the lock is machine-wide, so parallel test processes would see each
// other's lock.
TEST(InstanceLock, SecondProcessIsRefusedUntilTheFirstClosesAndARefusedOpenKeepsNoLock) {
    PrivateTempDir();
    DriverUnderTest first;
    ASSERT_TRUE(LoadDriverCopy(&first, "lock_a", "Orvex_J2534", XentryIni().c_str()));
    // The second process uses its own copy, loaded only there.
    std::string otherDir = MakeScenarioDir("lock_b");
    std::string otherDriver = JoinPath(otherDir, std::string("Orvex_J2534") + platform::SharedLibrarySuffix());
    ASSERT_TRUE(CopyFileTo(BuiltLibrary("Orvex_J2534"), otherDriver));
    platform::WriteWholeFile(JoinPath(otherDir, "Orvex_J2534.ini"), XentryIni());
    std::string result = JoinPath(otherDir, "probe.txt");

    j2534::ULONG dev = 0;
    ASSERT_EQ(first.Open(nullptr, &dev), 0);
    const std::string refused = "rc=14\nerror=Device is already in use by another Orvex_J2534 instance.\n";
    EXPECT_EQ(OpenFromAnotherProcess(otherDriver, result), refused);
    EXPECT_EQ(OpenFromAnotherProcess(otherDriver, result), refused);

    EXPECT_EQ(first.Close(dev), 0);
    EXPECT_TRUE(OpensFromAnotherProcessSoon(otherDriver, result));

    // An open refused for its null pointer gives the lock back at once.
    EXPECT_EQ(first.Open(nullptr, nullptr), 0x04);
    EXPECT_TRUE(OpensFromAnotherProcessSoon(otherDriver, result));
    UnloadDriverCopy(&first);
}

TEST(InstanceLock, NotTakenWhenDisabled) {
    PrivateTempDir();
    DriverUnderTest first;
    ASSERT_TRUE(LoadDriverCopy(&first, "nolock_a", "Orvex_J2534", (XentryIni() + "[General]\nEnableInstanceLock=0\n").c_str()));
    std::string otherDir = MakeScenarioDir("nolock_b");
    std::string otherDriver = JoinPath(otherDir, std::string("Orvex_J2534") + platform::SharedLibrarySuffix());
    ASSERT_TRUE(CopyFileTo(BuiltLibrary("Orvex_J2534"), otherDriver));
    platform::WriteWholeFile(JoinPath(otherDir, "Orvex_J2534.ini"), XentryIni() + "[General]\nEnableInstanceLock=0\n");
    j2534::ULONG dev = 0;
    ASSERT_EQ(first.Open(nullptr, &dev), 0);
    EXPECT_TRUE(OpensFromAnotherProcessSoon(otherDriver, JoinPath(otherDir, "probe.txt")));
    EXPECT_EQ(first.Close(dev), 0);
    UnloadDriverCopy(&first);
}

TEST(IgnitionHelper, StartedWithTheConfiguredPathAndTheIniPath) {
    DriverUnderTest d;
    std::string dir = MakeScenarioDir("ignition_cfg");
    std::string exe = JoinPath(dir, "helper dir");
    platform::CreateDirectories(exe);
    exe = JoinPath(exe, "rec" + kExe);
    ASSERT_TRUE(InstallRecorder(exe));
    std::string ini = "[Backend]\nType=Orvex\n[DpduSettings]\nDllName=" + VciSimFileName() +
                      "\n[Ignition]\nLauncherEnabled=1\nIgnitionExePath=" + exe + "\n";
    ASSERT_TRUE(LoadDriverCopy(&d, "ignition_cfg_drv", "Orvex_J2534", ini.c_str()));
    j2534::ULONG dev = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    std::string iniPath = JoinPath(d.dir, "Orvex_J2534.ini");
    // Quoting keeps the blank in the folder name inside one argument.
    EXPECT_EQ(RecordedArgs(exe), exe + "\n--inipath\n" + iniPath + "\n");
    EXPECT_NE(d.LogText().find("Ignition helper launched.\r\n"), std::string::npos);
    EXPECT_EQ(d.Close(dev), 0);
    UnloadDriverCopy(&d);
}

TEST(IgnitionHelper, DefaultsToIgnitionExeBesideTheIni) {
    DriverUnderTest d;
    std::string ini = "[Backend]\nType=Orvex\n[DpduSettings]\nDllName=" + VciSimFileName() +
                      "\n[Ignition]\nAutoStart=1\n";
    ASSERT_TRUE(LoadDriverCopy(&d, "ignition_default", "Orvex_J2534", ini.c_str()));
    std::string exe = JoinPath(d.dir, "Ignition.exe");
    ASSERT_TRUE(InstallRecorder(exe));
    j2534::ULONG dev = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    EXPECT_EQ(RecordedArgs(exe), exe + "\n--inipath\n" + JoinPath(d.dir, "Orvex_J2534.ini") + "\n");
    EXPECT_EQ(d.Close(dev), 0);
    UnloadDriverCopy(&d);
}

TEST(IgnitionHelper, MissingProgramOrLauncherOffStartsNothing) {
    DriverUnderTest d;
    std::string ini = "[Backend]\nType=Orvex\n[DpduSettings]\nDllName=" + VciSimFileName() +
                      "\n[Ignition]\nLauncherEnabled=1\n";
    ASSERT_TRUE(LoadDriverCopy(&d, "ignition_missing", "Orvex_J2534", ini.c_str()));
    j2534::ULONG dev = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);  // no Ignition.exe in the folder: silent
    EXPECT_EQ(d.LogText().find("Ignition helper launched."), std::string::npos);
    EXPECT_EQ(d.Close(dev), 0);
    UnloadDriverCopy(&d);
}

TEST(DetachedProcess, WindowsQuotingReachesTheProgramIntact) {
    std::string exe = JoinPath(MakeScenarioDir("quoting"), "rec" + kExe);
    ASSERT_TRUE(InstallRecorder(exe));
    // Quoted blanks, an escaped quote, backslashes before a closing quote, plain backslashes.
    std::string line = Quote(exe) + " \"a b\" c\\\"d \"e\\\\\" f\\g  h";
    ASSERT_TRUE(platform::StartDetachedProcess(exe, line));
    EXPECT_EQ(RecordedArgs(exe), exe + "\na b\nc\"d\ne\\\nf\\g\nh\n");
}

TEST(DetachedProcess, MissingProgramFails) {
    std::string exe = JoinPath(MakeScenarioDir("missing_exe"), "absent" + kExe);
    EXPECT_FALSE(platform::StartDetachedProcess(exe, Quote(exe)));
}
