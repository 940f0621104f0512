// The 02.02 adapter through the OS loader: the driver and VciSim lie beside it in a scenario
// folder, as a host installs them, and the adapter opens and closes the device on its own.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "tests/support/adapter_under_test.h"
#include "tests/support/driver_under_test.h"
#include "tests/support/messages.h"
#include "tests/support/temp_dir.h"

namespace {
const std::string kTraceIni = "[General]\nTrace=trace.txt\n";
const std::string kDriverLog = std::string("Logs") + platform::kPathSeparator + "Orvex_J2534.log";

class Adapter0202 : public ::testing::Test {
protected:
    void TearDown() override {
        if (a.handle) UnloadAdapterCopy(&a);
    }
    // The driver and VciSim in a fresh folder, and the adapter beside them under fileName.
    void Load(const std::string& scenario, const std::string& fileName = AdapterFileName()) {
        dir = PrepareDriverFolder(scenario, "Orvex_J2534", kQuickProbeIni, kTraceIni.c_str());
        ASSERT_FALSE(dir.empty());
        ASSERT_TRUE(LoadAdapterCopy(&a, dir, fileName));
    }
    std::string Log() const { return ReadFileText(JoinPath(dir, kDriverLog)); }
    std::string Trace() const { return ReadFileText(JoinPath(dir, "trace.txt")); }
    size_t Closes() const { return CountOf(Log(), "PassThruClose\r\n"); }
    size_t ModuleDisconnects() const { return CountOf(Trace(), "PDUModuleDisconnect"); }
    std::string DriverPath() const { return JoinPath(dir, std::string("Orvex_J2534") + platform::SharedLibrarySuffix()); }

    std::string dir;
    AdapterUnderTest a;
};

std::string Quote(const std::string& s) { return "\"" + s + "\""; }
}  // namespace

TEST_F(Adapter0202, OwnErrorTextUntilTheDriverIsLoadedAndAFailedLoadIsRetried) {
    Load("adapter_retry");
    ASSERT_TRUE(platform::RenameReplace(DriverPath(), DriverPath() + ".off"));
    char text[80] = "untouched";
    EXPECT_EQ(a.GetLastError(text), 0);
    EXPECT_STREQ(text, "Legacy wrapper not initialized");
    EXPECT_EQ(a.GetLastError(nullptr), 0);

    j2534::ULONG ch = 77;
    EXPECT_EQ(a.Connect(j2534::ISO15765, 0, nullptr), j2534::ERR_NULL_PARAMETER);
    EXPECT_EQ(a.LastError(), "PassThruConnect: pChannelID is null");
    EXPECT_EQ(a.Connect(j2534::ISO15765, 0, &ch), j2534::ERR_FAILED);
    EXPECT_EQ(ch, 77u);
    EXPECT_EQ(a.LastError(), "Failed to load sibling 04.04 J2534 DLL");
    EXPECT_EQ(a.Disconnect(1), j2534::ERR_FAILED);

    // The driver appears: the next call loads it.
    ASSERT_TRUE(platform::RenameReplace(DriverPath() + ".off", DriverPath()));
    ASSERT_EQ(a.Connect(j2534::ISO15765, 0, &ch), 0);
    EXPECT_EQ(ch, 1u);
    EXPECT_EQ(a.Disconnect(ch), 0);
}

TEST_F(Adapter0202, RenamedAdapterLoadsItselfAndLacksTheDriverFunctions) {
    Load("adapter_renamed", std::string("Legacy_J2534") + platform::SharedLibrarySuffix());
    j2534::ULONG ch = 0;
    char fw[80], dll[80], api[80];
    EXPECT_EQ(a.Connect(j2534::CAN, 0, &ch), j2534::ERR_FAILED);
    EXPECT_EQ(a.LastError(), "Sibling 04.04 J2534 DLL missing required exports");
    EXPECT_EQ(a.ReadVersion(fw, dll, api), j2534::ERR_FAILED);  // tried again, same answer
    EXPECT_EQ(a.LastError(), "Sibling 04.04 J2534 DLL missing required exports");
    EXPECT_EQ(Log(), "");  // the driver beside it was never loaded
}

TEST_F(Adapter0202, TheDeviceStaysOpenUntilTheLastChannelIsDisconnected) {
    Load("adapter_two");
    j2534::ULONG can = 0, iso = 0;
    ASSERT_EQ(a.Connect(j2534::CAN, 0, &can), 0);
    ASSERT_EQ(a.Connect(j2534::ISO15765, 0, &iso), 0);
    EXPECT_NE(can, iso);
    EXPECT_EQ(CountOf(Log(), "PassThruOpen\r\n"), 1u);  // one device for both

    EXPECT_EQ(a.Disconnect(can), 0);
    EXPECT_EQ(Closes(), 0u);
    EXPECT_EQ(ModuleDisconnects(), 0u);
    EXPECT_EQ(a.Disconnect(iso), 0);
    EXPECT_EQ(Closes(), 1u);
    EXPECT_EQ(ModuleDisconnects(), 1u);

    // A new connect opens the device again.
    ASSERT_EQ(a.Connect(j2534::CAN, 0, &can), 0);
    EXPECT_EQ(CountOf(Log(), "PassThruOpen\r\n"), 2u);
    EXPECT_EQ(a.Disconnect(can), 0);
    EXPECT_EQ(Closes(), 2u);
}

TEST_F(Adapter0202, AFailedDisconnectKeepsTheChannelAndTheDevice) {
    Load("adapter_baddisc");
    j2534::ULONG ch = 0;
    ASSERT_EQ(a.Connect(j2534::ISO15765, 0, &ch), 0);
    EXPECT_EQ(a.Disconnect(ch + 5), j2534::ERR_INVALID_CHANNEL_ID);  // the driver's answer, unchanged
    EXPECT_EQ(Closes(), 0u);
    EXPECT_EQ(a.Disconnect(ch), 0);
    EXPECT_EQ(Closes(), 1u);
}

TEST_F(Adapter0202, ConnectPassesTheBaudOfTheProtocol) {
    Load("adapter_baud");
    struct Case {
        uint32_t protocol;
        const char* start;
    };
    const Case cases[] = {{j2534::CAN, "=== START proto=0x5 baud=500000 ==="},
                          {j2534::ISO15765, "=== START proto=0x6 baud=500000 ==="},
                          {13, "=== START proto=0xD baud=500000 ==="},
                          {j2534::ISO9141, "=== START proto=0x3 baud=10400 ==="},
                          {j2534::ISO14230, "=== START proto=0x4 baud=10400 ==="},
                          {j2534::J1850VPW, "=== START proto=0x1 baud=10400 ==="},
                          {j2534::J1850PWM, "=== START proto=0x2 baud=41600 ==="},
                          {j2534::SCI_A_ENGINE, "=== START proto=0x7 baud=0 ==="},
                          {j2534::SCI_B_TRANS, "=== START proto=0xC baud=0 ==="},
                          {j2534::DOIP, "=== START proto=0xE baud=0 ==="},
                          {j2534::ISO15765_FD, "=== START proto=0x10 baud=0 ==="}};
    uint32_t connected[16];
    size_t n = 0;
    for (const Case& c : cases) {
        j2534::ULONG ch = 0;
        if (a.Connect(c.protocol, 0, &ch) == 0) connected[n++] = ch;
        EXPECT_NE(Log().find(c.start), std::string::npos) << c.start;
    }
    EXPECT_GE(n, 2u);  // at least CAN and ISO 15765 on the simulator
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(a.Disconnect(connected[i]), 0);
    EXPECT_EQ(Closes(), 1u);
}

TEST_F(Adapter0202, VersionAndProgrammingVoltageOpenTheDevice) {
    Load("adapter_version");
    char fw[80] = "", dll[80] = "", api[80] = "";
    ASSERT_EQ(a.ReadVersion(fw, dll, api), 0);
    EXPECT_STREQ(fw, "27.03.26");
    EXPECT_STREQ(dll, "27.03.26");
    EXPECT_STREQ(api, "02.02");
    EXPECT_EQ(a.ReadVersion(fw, dll, nullptr), 0);
    EXPECT_EQ(a.SetProgrammingVoltage(15, 12000), 0);
    std::string log = Log();
    EXPECT_EQ(CountOf(log, "PassThruOpen\r\n"), 1u);
    EXPECT_NE(log.find("PassThruSetProgrammingVoltage (store-only)\r\n"), std::string::npos);
    // Once loaded, the driver's own last error is the one reported.
    EXPECT_EQ(a.LastError(), "OK");
}

TEST_F(Adapter0202, HostSessionAgainstTheSimulatedVci) {
    Load("adapter_session");
    j2534::ULONG ch = 0;
    ASSERT_EQ(a.Connect(j2534::ISO15765, 0, &ch), 0);
    j2534::PASSTHRU_MSG msg{};
    j2534::ULONG count = 1;
    // Calls on a channel reach the driver with the channel as given.
    EXPECT_EQ(a.ReadMsgs(ch, &msg, &count, 0), j2534::ERR_BUFFER_EMPTY);
    EXPECT_EQ(count, 0u);
    // A UDS request and its answer.
    j2534::PASSTHRU_MSG request{};
    request.ProtocolID = j2534::ISO15765;
    request.TxFlags = j2534::ISO15765_FRAME_PAD;
    request.DataSize = 7;
    const uint8_t vin[] = {0x00, 0x00, 0x07, 0xE0, 0x22, 0xF1, 0x90};
    std::copy(vin, vin + sizeof vin, request.Data);
    count = 1;
    ASSERT_EQ(a.WriteMsgs(ch, &request, &count, 100), 0) << a.LastError();
    EXPECT_EQ(count, 1u);
    count = 1;
    ASSERT_EQ(a.ReadMsgs(ch, &msg, &count, 500), 0) << a.LastError();
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(msg.Data) + 7, msg.DataSize - 7), "WVSIM000000000001");
    count = 1;
    EXPECT_EQ(a.WriteMsgs(ch + 9, &msg, &count, 0), j2534::ERR_INVALID_CHANNEL_ID);
    j2534::ULONG id = 0;
    EXPECT_EQ(a.StartPeriodicMsg(ch + 9, &msg, &id, 100), j2534::ERR_INVALID_CHANNEL_ID);
    EXPECT_EQ(a.StopPeriodicMsg(ch + 9, 1), j2534::ERR_INVALID_CHANNEL_ID);
    EXPECT_EQ(a.StartMsgFilter(ch + 9, j2534::PASS_FILTER, &msg, &msg, nullptr, &id), j2534::ERR_INVALID_CHANNEL_ID);
    EXPECT_EQ(a.StopMsgFilter(ch + 9, 1), j2534::ERR_INVALID_CHANNEL_ID);
    EXPECT_EQ(CountOf(Log(), "PassThruIoctl(Channel=" + std::to_string(ch) + ", IoctlID=3)"), 0u);
    j2534::ULONG vbatt = 0;
    a.Ioctl(ch, j2534::READ_VBATT, nullptr, &vbatt);
    EXPECT_EQ(CountOf(Log(), "PassThruIoctl(Channel=" + std::to_string(ch) + ", IoctlID=3)"), 1u);

    EXPECT_EQ(a.Disconnect(ch), 0);
    std::string trace = Trace();
    size_t connect = trace.find("PDUModuleConnect");
    ASSERT_NE(connect, std::string::npos);
    EXPECT_NE(trace.find("PDUModuleDisconnect", connect), std::string::npos);
    EXPECT_EQ(Closes(), 1u);
}

// Periodic messages, filters and configuration reach the driver; unloading the adapter closes the
// device and unloads the driver while the periodic sender still runs.
TEST_F(Adapter0202, PeriodicMessagesFiltersAndConfigurationThroughTheAdapter) {
    Load("adapter_periodic");
    j2534::ULONG ch = 0, msgId = 0, filterId = 0;
    ASSERT_EQ(a.Connect(j2534::CAN, 0, &ch), 0);
    j2534::PASSTHRU_MSG frame = MakeMsg(j2534::CAN, HexBytes("00 00 01 23 AA")), mask = MakeMsg(j2534::CAN, {});
    ASSERT_EQ(a.StartPeriodicMsg(ch, &frame, &msgId, 10), 0);
    ASSERT_EQ(a.StartMsgFilter(ch, j2534::PASS_FILTER, &mask, &mask, nullptr, &filterId), 0);
    EXPECT_EQ(msgId, 1u);
    EXPECT_EQ(filterId, 1u);
    j2534::SCONFIG rate{j2534::DATA_RATE, 0};
    j2534::SCONFIG_LIST list{1, &rate};
    ASSERT_EQ(a.Ioctl(ch, j2534::GET_CONFIG, &list, nullptr), 0);
    EXPECT_EQ(rate.Value, 500000u);
    for (int i = 0; i < 300 && SentData(Trace()).size() < 2; ++i) platform::SleepMs(10);
    EXPECT_GE(SentData(Trace()).size(), 2u);
    UnloadAdapterCopy(&a);
    EXPECT_EQ(Closes(), 1u);
}

TEST_F(Adapter0202, UnloadClosesTheDeviceAndTheDriverGoesWithIt) {
    Load("adapter_unload");
    j2534::ULONG ch = 0;
    ASSERT_EQ(a.Connect(j2534::ISO15765, 0, &ch), 0);
    ASSERT_EQ(a.Connect(j2534::CAN, 0, &ch), 0);
    EXPECT_EQ(ch, 2u);
    UnloadAdapterCopy(&a);
    EXPECT_EQ(Closes(), 1u);
    EXPECT_EQ(ModuleDisconnects(), 1u);

    // Loaded again, the adapter finds a fresh driver: channel ids start over.
    a.handle = platform::LoadLibraryFile(JoinPath(dir, AdapterFileName()));
    ASSERT_NE(a.handle, nullptr);
    a.Connect = reinterpret_cast<Pt0202ConnectFn>(platform::GetLibrarySymbol(a.handle, "PassThruConnect"));
    ASSERT_EQ(a.Connect(j2534::CAN, 0, &ch), 0);
    EXPECT_EQ(ch, 1u);
    // The adapter's close left no session behind for the new driver to release.
    EXPECT_EQ(Log().find("Orphaned D-PDU session"), std::string::npos);
}

TEST_F(Adapter0202, AHostThatEndsWithoutCleaningUpEndsNormally) {
    Load("adapter_exit");
    UnloadAdapterCopy(&a);  // the probe process loads its own
    const std::string exe = std::string(platform::SharedLibrarySuffix()) == ".dll" ? ".exe" : "";
    std::string probe = JoinPath(TestBinDir(), "adapter_probe" + exe);
    std::string result = JoinPath(dir, "probe.txt");
    std::string command = Quote(probe) + " " + Quote(JoinPath(dir, AdapterFileName())) + " " + Quote(result);
    if (!exe.empty()) command = Quote(command);  // the command interpreter takes off the outer quotes
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadFileText(result), "rc=0\n");
    // At process exit the adapter leaves the driver alone: no close, the device simply ends.
    EXPECT_NE(Log().find("PassThruConnect"), std::string::npos);
    EXPECT_EQ(Closes(), 0u);
}
