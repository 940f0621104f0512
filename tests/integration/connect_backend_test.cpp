// PassThruConnect against an unwilling VCI: the LockDevice retry and the comm-lost back-off.
// These cases pause for real (900 ms, 1000 ms and the backend's own 1200 ms); kept to two.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "tests/support/driver_under_test.h"

namespace {

}  // namespace

TEST(ConnectBackend, LockedModuleIsUnloadedOnceAndRetried) {
    DriverUnderTest d;
    // Busy for both connect attempts of every load (the backend's own retry included).
    ASSERT_TRUE(LoadDriverWithVciSim(
        &d, "lockdevice", "Orvex_J2534", kQuickProbeIni,
        "[Module1]\nName=ORVEX3-VCI\nInfo=Vendor=MIVRA ModuleName=ORVEX3-VCI SerialNumber=1 ConnectionType=USB\n"
        "ConnectResults=1,1\n"));
    j2534::ULONG dev = 0, ch = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    auto start = std::chrono::steady_clock::now();
    int32_t rc = d.Connect(dev, 5, 0, 500000, &ch);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    std::string log = d.LogText();
    EXPECT_EQ(CountOf(log, "LockDevice failure; forcing toolkit unload and retry\r\n"), 1u);
    EXPECT_EQ(CountOf(log, "Dpdu_Init: marker dpdu_init\r\n"), 1u);
    EXPECT_EQ(CountOf(log, "Dpdu_Init: starting D-PDU initialisation\r\n"), 2u);  // one re-initialisation
    size_t unload = log.find("LockDevice failure; forcing toolkit unload and retry");
    EXPECT_NE(log.find("Dpdu_Shutdown: completed\r\n", unload), std::string::npos);
    // The simulator starts afresh after the unload, so the module is still busy: refused.
    EXPECT_EQ(rc, 0x0E);
    EXPECT_EQ(d.LastError(), "Device is busy (locked by another application)");
    std::printf("LockDevice retry took %lld ms\n", static_cast<long long>(ms));
    d.Close(dev);
    UnloadDriverCopy(&d);
}

TEST(ConnectBackend, CommLostBeforeConnectRunsTheBackOff) {
    DriverUnderTest d;
    // The DAS wake-up's first send finds the VCI gone.
    ASSERT_TRUE(LoadDriverWithVciSim(&d, "commlost", "Orvex_J2534", kQuickProbeIni + "[Profile]\nMode=DAS\n[DAS]\nInjectDelayMs=0\n",
                                     "[Faults]\nError=PDUStartComPrimitive@1=0x11\n"));
    j2534::ULONG dev = 0, a = 0, b = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    ASSERT_EQ(d.Connect(dev, 6, 0, 500000, &a), 0);
    ASSERT_NE(d.LogText().find("Dpdu: COMM LOST at StartComPrimitive"), std::string::npos);

    ASSERT_EQ(d.Connect(dev, 5, 0, 500000, &b), 0);
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(d.LastError(), "VCI communication lost");
    std::string log = d.LogText();
    size_t backoff = log.find("CommLost: backoff 1000ms at PassThruConnect\r\n");
    ASSERT_NE(backoff, std::string::npos);
    // The backend came up again within the same call.
    EXPECT_NE(log.find("Dpdu_Init: marker dpdu_init\r\n", backoff), std::string::npos);
    EXPECT_EQ(CountOf(log, "Dpdu_Init: marker dpdu_init\r\n"), 2u);
    EXPECT_EQ(d.Disconnect(a), 0);  // the channel whose link died goes away cleanly
    EXPECT_EQ(d.Close(dev), 0);
    UnloadDriverCopy(&d);
}

TEST(ConnectBackend, CommLostRecoversEvenWithTheToolkitKeptLoaded) {
    DriverUnderTest d;
    std::string ini = "[DpduSettings]\nKeepLoaded=1\n" + kQuickProbeIni.substr(std::string("[DpduSettings]\n").size()) +
                      "[Profile]\nMode=DAS\n[DAS]\nInjectDelayMs=0\n";
    ASSERT_TRUE(LoadDriverWithVciSim(&d, "commlost_keep", "Orvex_J2534", ini,
                                     "[Faults]\nError=PDUStartComPrimitive@1=0x11\n"));
    j2534::ULONG dev = 0, ch = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    ASSERT_EQ(d.Connect(dev, 6, 0, 500000, &ch), 0);  // its wake-up loses the VCI
    ASSERT_EQ(d.Connect(dev, 5, 0, 500000, &ch), 0);  // back-off and a fresh start
    ASSERT_EQ(d.Connect(dev, 5, 0, 500000, &ch), 0);  // the VCI is back: no second back-off
    std::string log = d.LogText();
    EXPECT_EQ(CountOf(log, "CommLost: backoff"), 1u);
    EXPECT_EQ(CountOf(log, "Dpdu_Init: D-PDU initialised PASS"), 2u);
    EXPECT_EQ(d.Close(dev), 0);
    UnloadDriverCopy(&d);
}
