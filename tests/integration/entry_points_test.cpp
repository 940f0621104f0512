// The exported entry points as a host sees them, through the OS loader.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "tests/support/driver_under_test.h"
#include "tests/support/temp_dir.h"

namespace {
class EntryPoints : public ::testing::Test {
protected:
    // A valid configuration: a fatal one would refuse PassThruOpen.
    void SetUp() override {
        ASSERT_TRUE(LoadDriverCopy(&d, "entry", "Orvex_J2534", "[Backend]\nType=Orvex\n[DpduSettings]\nDllName=none.dll\n"));
    }
    void TearDown() override { UnloadDriverCopy(&d); }
    DriverUnderTest d;
};
}  // namespace

TEST_F(EntryPoints, ReadVersionBeforeOpen) {
    char fw[80], dll[80], api[80];
    EXPECT_EQ(d.ReadVersion(7, fw, dll, api), 0);
    EXPECT_STREQ(fw, "27.03.26");
    EXPECT_STREQ(dll, "27.03.26");
    EXPECT_STREQ(api, "04.04");
    EXPECT_EQ(d.ReadVersion(0, nullptr, nullptr, nullptr), 0);
}

TEST_F(EntryPoints, GetLastErrorDefaultsAndNullPointer) {
    char buf[80];
    EXPECT_EQ(d.GetLastError(nullptr), j2534::ERR_NULL_PARAMETER);
    EXPECT_EQ(d.GetLastError(buf), 0);
    EXPECT_STREQ(buf, "No error");
}

TEST_F(EntryPoints, EveryDeviceCheckingCallFailsBeforeOpen) {
    j2534::ULONG id = 0, n = 1;
    j2534::PASSTHRU_MSG msg{};
    j2534::ULONG out = 0;
    EXPECT_EQ(d.Close(1), j2534::ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(d.LastError(), "Device not open.");
    EXPECT_EQ(d.Connect(1, j2534::ISO15765, 0, 500000, &id), j2534::ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(d.Disconnect(1), j2534::ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(d.ReadMsgs(1, &msg, &n, 0), j2534::ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(d.WriteMsgs(1, &msg, &n, 0), j2534::ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(d.Ioctl(1, j2534::READ_VBATT, nullptr, &out), j2534::ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(d.LastError(), "Device not open.");
    std::string log = d.LogText();
    for (const char* name : {"PassThruClose", "PassThruConnect", "PassThruDisconnect", "PassThruReadMsgs",
                             "PassThruWriteMsgs", "PassThruIoctl"})
        EXPECT_NE(log.find(std::string(name) + ": device not open\r\n"), std::string::npos) << name;
}

TEST_F(EntryPoints, ArgumentChecksNeedNoDevice) {
    j2534::PASSTHRU_MSG msg{};
    j2534::ULONG n = 0, id = 0;
    EXPECT_EQ(d.ReadMsgs(1, &msg, &n, 0), j2534::ERR_NULL_PARAMETER);  // count 0
    n = 1;
    EXPECT_EQ(d.WriteMsgs(1, reinterpret_cast<j2534::PASSTHRU_MSG*>(0x8000), &n, 0), j2534::ERR_NULL_PARAMETER);
    EXPECT_EQ(d.LastError(), "PassThruWriteMsgs: pMsg pointer too small (ABI mismatch)");
    EXPECT_EQ(d.StartPeriodicMsg(1, &msg, &id, 0), j2534::ERR_INVALID_TIME_INTERVAL);
    EXPECT_EQ(d.StartPeriodicMsg(1, nullptr, &id, 10), j2534::ERR_NULL_PARAMETER);
    EXPECT_EQ(d.StartPeriodicMsg(1, &msg, &id, 10), j2534::ERR_INVALID_CHANNEL_ID);
    EXPECT_EQ(d.StopPeriodicMsg(1, 1), j2534::ERR_INVALID_CHANNEL_ID);
    EXPECT_EQ(d.StartMsgFilter(1, j2534::PASS_FILTER, &msg, &msg, nullptr, &id), j2534::ERR_INVALID_CHANNEL_ID);
    EXPECT_EQ(d.StopMsgFilter(1, 1), j2534::ERR_INVALID_CHANNEL_ID);
    EXPECT_EQ(d.SetProgrammingVoltage(9, 15, 12000), 0);
    EXPECT_EQ(d.LastError(), "OK");
}

TEST_F(EntryPoints, WriteMsgsLogsItsEntryAndJudgesTheCountAfterTheChannel) {
    j2534::PASSTHRU_MSG msg{};
    j2534::ULONG n = 0, dev = 0;
    EXPECT_EQ(d.WriteMsgs(1, nullptr, &n, 0), j2534::ERR_NULL_PARAMETER);
    EXPECT_EQ(d.LogText().find("WriteMsgs ENTRY"), std::string::npos);  // nothing logged for null pointers
    EXPECT_EQ(d.WriteMsgs(1, &msg, &n, 25), j2534::ERR_DEVICE_NOT_CONNECTED);
    std::string log = d.LogText();
    size_t entry = log.find("WriteMsgs ENTRY: pMsg=");
    ASSERT_NE(entry, std::string::npos);
    EXPECT_EQ(log.find(" Timeout=25\r\n", entry), log.find("\r\n", entry) - std::strlen(" Timeout=25"));
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    EXPECT_EQ(d.WriteMsgs(99, &msg, &n, 0), j2534::ERR_INVALID_CHANNEL_ID);
    EXPECT_EQ(d.Close(dev), 0);
}

TEST_F(EntryPoints, IoctlOnAnOpenDeviceIsNotReportedAsNotConnected) {
    j2534::ULONG dev = 0, out = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    EXPECT_NE(d.Ioctl(0, j2534::READ_VBATT, nullptr, &out), j2534::ERR_DEVICE_NOT_CONNECTED);
    EXPECT_NE(d.LogText().find("PassThruIoctl(Channel=0, IoctlID=3)\r\n"), std::string::npos);
    EXPECT_EQ(d.Close(dev), 0);
}

TEST_F(EntryPoints, ConnectWithNullChannelPointerIsFramed) {
    EXPECT_EQ(d.Connect(1, j2534::ISO15765, 0, 500000, nullptr), j2534::ERR_NULL_PARAMETER);
    std::string log = d.LogText();
    size_t start = log.find("=== START proto=0x6 baud=500000 ===\r\n");
    size_t devid = log.find("PassThruConnect: devId=1 proto=0x6 flags=0x0 baud=500000\r\n");
    size_t end = log.find("=== END rc=4 ===\r\n");
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(devid, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LT(start, devid);
    EXPECT_LT(devid, end);
}

TEST_F(EntryPoints, FirstLineCreatesLogWithBanner) {
    d.Close(1);
    std::string log = d.LogText();
    ASSERT_EQ(log.find("Wrapper build: "), 0u) << log;
    EXPECT_NE(log.find(" | DLL=Orvex_J2534 | Dir="), std::string::npos);
    EXPECT_NE(log.find("PassThruClose\r\n"), std::string::npos);
}

TEST_F(EntryPoints, LastErrorIsPerThread) {
    d.Close(1);  // this thread: "Device not open."
    std::string other;
    std::thread t([&] {
        other = d.LastError();
        j2534::ULONG n = 1;
        j2534::PASSTHRU_MSG* tiny = reinterpret_cast<j2534::PASSTHRU_MSG*>(0x100);
        d.WriteMsgs(1, tiny, &n, 0);
    });
    t.join();
    EXPECT_EQ(other, "No error");
    EXPECT_EQ(d.LastError(), "Device not open.");
}

TEST_F(EntryPoints, OpenTwiceAndCloseTwice) {
    j2534::ULONG dev = 0;
    EXPECT_EQ(d.Open(nullptr, nullptr), j2534::ERR_NULL_PARAMETER);
    ASSERT_EQ(d.Open("x", &dev), 0);
    EXPECT_EQ(dev, 1u);
    EXPECT_EQ(d.Open(nullptr, &dev), j2534::ERR_DEVICE_IN_USE);
    EXPECT_EQ(d.Close(2), j2534::ERR_INVALID_DEVICE_ID);  // a wrong id still tears the device down
    EXPECT_EQ(d.Close(0), j2534::ERR_DEVICE_NOT_CONNECTED);
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    EXPECT_EQ(d.Close(0), 0);
}

TEST(EntryPointsMirror, ArchitectureSuffixedCopyMirrorsItsLog) {
    DriverUnderTest d;
    ASSERT_TRUE(LoadDriverCopy(&d, "mirror", "Orvex_J2534_x86", nullptr));
    d.Close(1);
    UnloadDriverCopy(&d);
    std::string own = d.LogText();
    std::string mirror = ReadFileText(JoinPath(JoinPath(d.dir, "Logs"), "Orvex_J2534.log"));
    EXPECT_NE(own.find("PassThruClose\r\n"), std::string::npos);
    EXPECT_EQ(own, mirror);
}
