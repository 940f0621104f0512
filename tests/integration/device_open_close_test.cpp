// PassThruOpen and PassThruClose through the OS loader, on the simulated VCI.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/support/driver_under_test.h"
#include "tests/support/temp_dir.h"

namespace {


class DeviceOpenClose : public ::testing::Test {
protected:
    void TearDown() override {
        if (d.handle) UnloadDriverCopy(&d);
    }
    void Load(const std::string& ini) { ASSERT_TRUE(LoadDriverWithVciSim(&d, "device", "Orvex_J2534", kQuickProbeIni + ini, nullptr)); }
    DriverUnderTest d;
};
}  // namespace

TEST_F(DeviceOpenClose, SecondOpenIsRefusedAndTheFirstSessionStays) {
    Load("");
    j2534::ULONG dev = 0, dev2 = 77, ch = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    EXPECT_EQ(dev, 1u);
    ASSERT_EQ(d.Connect(dev, 5, 0, 500000, &ch), 0);
    EXPECT_EQ(d.Open(nullptr, &dev2), 0x0E);
    EXPECT_EQ(dev2, 77u);
    EXPECT_EQ(d.LastError(), "No error");  // the refusal sets no text
    EXPECT_EQ(d.Disconnect(ch), 0);        // the channel survived
    EXPECT_EQ(d.Close(dev), 0);
}

TEST_F(DeviceOpenClose, NullDeviceIdPointer) {
    Load("");
    EXPECT_EQ(d.Open(nullptr, nullptr), 0x04);
    j2534::ULONG dev = 0;
    EXPECT_EQ(d.Open(nullptr, &dev), 0);  // the refused call left the device closed
    EXPECT_EQ(d.Close(dev), 0);
}

TEST_F(DeviceOpenClose, CloseTwiceAndCloseWithWrongId) {
    Load("");
    j2534::ULONG dev = 0, ch = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    EXPECT_EQ(d.Close(dev), 0);
    EXPECT_EQ(d.Close(dev), 0x08);
    EXPECT_EQ(d.LastError(), "Device not open.");

    // A close with a wrong id still tears the device down; 0 stands for the open device.
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    EXPECT_EQ(d.Close(2), 0x1A);
    EXPECT_EQ(d.Connect(1, 5, 0, 500000, &ch), 0x08);
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    EXPECT_EQ(d.Close(0), 0);
    std::string log = d.LogText();
    EXPECT_NE(log.find("PassThruClose: device not open\r\n"), std::string::npos);
    EXPECT_NE(log.find("[OEM] Detected: PIWIS\r\nPassThruOpen\r\n"), std::string::npos);
}

TEST_F(DeviceOpenClose, ChannelIdsContinueAcrossSessions) {
    Load("");
    j2534::ULONG dev = 0, a = 0, b = 0, c = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    ASSERT_EQ(d.Connect(dev, 5, 0, 500000, &a), 0);
    ASSERT_EQ(d.Connect(dev, 6, 0, 500000, &b), 0);
    EXPECT_EQ(d.Close(dev), 0);
    EXPECT_EQ(d.Disconnect(a), 0x08);
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    EXPECT_EQ(d.Disconnect(a), 0x02);  // the old channels are gone
    ASSERT_EQ(d.Connect(dev, 5, 0, 500000, &c), 0);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(c, 3u);
    EXPECT_EQ(d.Close(dev), 0);
    // Each session brought the backend up and tore it down again.
    std::string log = d.LogText();
    EXPECT_EQ(CountOf(log, "Dpdu_Init: marker dpdu_init\r\n"), 2u);
    EXPECT_EQ(CountOf(log, "Dpdu_Shutdown: completed"), 2u);
}

TEST_F(DeviceOpenClose, FatalConfigurationRefusesOpen) {
    // The INI names another VCI family than the library's file name.
    ASSERT_TRUE(LoadDriverCopy(&d, "fatal", "Orvex_J2534", "[Backend]\nType=TVN\n[DpduSettings]\nDllName=x.dll\n"));
    j2534::ULONG dev = 0;
    EXPECT_EQ(d.Open(nullptr, &dev), 0x07);
    EXPECT_EQ(d.LastError(), "Configuration error (see log file)");
    EXPECT_EQ(d.Open(nullptr, &dev), 0x07);  // every time
    std::string log = d.LogText();
    EXPECT_NE(log.find("Configuration fatal: will deny PassThruOpen (not blocking DLL load)\r\n"), std::string::npos);
    EXPECT_EQ(CountOf(log, "Configuration fatal: PassThruOpen denied\r\n"), 2u);
    EXPECT_EQ(d.Close(1), 0x08);
}

TEST_F(DeviceOpenClose, NoEcuVwOdisKeepsTheModuleForTheNextSession) {
    std::string ini = "[DpduSettings]\nKeepLoaded=1\n" + kQuickProbeIni.substr(std::string("[DpduSettings]\n").size()) +
                      "[Bench]\nNoEcuMode=1\n";
    ASSERT_TRUE(LoadDriverWithVciSim(&d, "noecu", "TRX4820_J2534", ini, nullptr));
    j2534::ULONG dev = 0, ch = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    ASSERT_EQ(d.Connect(dev, 5, 0, 500000, &ch), 0);
    EXPECT_EQ(d.Close(dev), 0);
    std::string log = d.LogText();
    EXPECT_NE(log.find("CleanupDeviceStateLocked: skipping Dpdu_CloseModule/Shutdown (NoEcuMode, VW/ODIS)\r\n"),
              std::string::npos);
    EXPECT_EQ(log.find("Dpdu_Shutdown"), std::string::npos);

    // The next session adopts the connected module instead of starting the backend again.
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    ASSERT_EQ(d.Connect(dev, 5, 0, 500000, &ch), 0);
    EXPECT_EQ(ch, 2u);
    EXPECT_EQ(CountOf(d.LogText(), "Dpdu_Init: marker dpdu_init\r\n"), 1u);

    // Without a link closed at clean-up the backend goes, unloaded even if configured to stay.
    EXPECT_EQ(d.Disconnect(ch), 0);
    EXPECT_EQ(d.Close(dev), 0);
    log = d.LogText();
    EXPECT_NE(log.find("Dpdu_Shutdown: completed\r\n"), std::string::npos);
    EXPECT_EQ(log.find("kept toolkit loaded"), std::string::npos);
}
