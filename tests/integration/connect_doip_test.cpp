// PassThruConnect on the DoIP protocols through each road: the driver's own client (native and
// direct, with the pre-steps on the simulated VCI), the D-PDU DoIP link, NoEcu, and the
// fallbacks between them. The gateway runs in this process on 127.0.0.1; every discovery
// address in these INI files is a loopback address, and only the "...Discovery" suite (run
// apart from all others) lets the gateway answer vehicle identification.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/j2534.h"
#include "doipsim/gateway.h"
#include "platform/platform.h"
#include "tests/support/driver_under_test.h"
#include "tests/support/loopback_gateway.h"
#include "tests/support/temp_dir.h"

namespace {

class ConnectDoip : public ::testing::Test {
protected:
    void TearDown() override {
        if (dev) d.Close(dev);
        if (d.handle) UnloadDriverCopy(&d);
        gateway.reset();
    }

    void StartGateway(doipsim::GatewayConfig cfg = {}, bool discoverable = false) {
        gateway.reset();  // frees the ports of the one before
        gateway = StartLoopbackGateway(cfg, discoverable);
        ASSERT_TRUE(gateway);
    }

    // The gateway's address and port, loopback discovery, and no real pauses in the pre-steps.
    std::string DoipIni(const std::string& keys) const {
        return "[DoIP]\nNativeTargetIp=127.0.0.1\nNativeTargetPort=" +
               std::to_string(gateway ? gateway->TcpPort() : 1) +
               "\nNativeDst=0x0010\nDiscoveryAddress=127.0.0.1\nDiscoveryBroadcast=127.0.0.1\n"
               "EthSwitchDelayMs=0\nSwitchSettleMs=0\nSwitchRetryDelayMs=0\nDiscoveryTimeoutMs=3000\n" +
               keys;
    }

    void Open(const std::string& doipKeys, const char* vciSim = nullptr, const std::string& more = "") {
        ASSERT_TRUE(LoadDriverWithVciSim(&d, "connect_doip", "Orvex_J2534",
                                         kQuickProbeIni + more + DoipIni(doipKeys), vciSim));
        ASSERT_EQ(d.Open(nullptr, &dev), 0);
    }

    std::string Trace() const { return ReadFileText(JoinPath(d.dir, "trace.txt")); }

    DriverUnderTest d;
    j2534::ULONG dev = 0;
    std::unique_ptr<doipsim::Gateway> gateway;
};

const char kTraced[] = "[General]\nTrace=trace.txt\n";

bool Has(const std::string& log, const std::string& line) { return log.find(line + "\r\n") != std::string::npos; }

}  // namespace

TEST_F(ConnectDoip, NativeRoadConnectsToTheGateway) {
    StartGateway();
    Open("NativeDoIP=1\n", kTraced);
    j2534::ULONG ch = 0;
    ASSERT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), 0) << d.LastError();
    EXPECT_EQ(d.LastError(), "OK");
    const std::string port = std::to_string(gateway->TcpPort());
    std::string log = d.LogText();
    EXPECT_NE(log.find("DoIP config: ini="), std::string::npos);
    EXPECT_NE(log.find(" mode=Auto direct=0 native=1 discovery=1 targetIp=127.0.0.1 bindIp=(empty) switchFirst=1 "
                       "fallback=0\r\n"),
              std::string::npos)
        << log;
    EXPECT_TRUE(Has(log, "PassThruConnect: DoIP connect requested (proto=0xE): choosing NativeDoIP"));
    EXPECT_TRUE(Has(log, "Dpdu_OpenLink: bypassed (NativeDoIP)"));
    EXPECT_TRUE(Has(log, "PassThruConnect: NativeDoIP connecting to 127.0.0.1:" + port));
    EXPECT_TRUE(Has(log, "NativeDoIP: TCP connected to 127.0.0.1:" + port));
    EXPECT_TRUE(Has(log, "PassThruConnect: NativeDoIP connected"));
    EXPECT_EQ(Trace().find("PDUCreateComLogicalLink"), std::string::npos);
    EXPECT_EQ(Trace().find("SET_ETH_SWITCH_STATE"), std::string::npos);
    EXPECT_EQ(d.Disconnect(ch), 0);

    // The other DoIP protocol id takes the same road; closing the device ends the connection.
    j2534::ULONG second = 0;
    ASSERT_EQ(d.Connect(dev, j2534::DOIP_ALT, 0, 0, &second), 0) << d.LastError();
    EXPECT_EQ(second, ch + 1);
    EXPECT_EQ(gateway->Connections(), 2u);
    EXPECT_EQ(d.Close(dev), 0);
    dev = 0;
}

class ConnectDoipDiscovery : public ConnectDoip {};

TEST_F(ConnectDoipDiscovery, NativeRoadFindsTheGateway) {
    StartGateway({}, true);
    Open("NativeDoIP=1\nNativeTargetIp=\nDiscoveryUnicast=127.0.0.1\n");
    j2534::ULONG ch = 0;
    ASSERT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), 0) << d.LastError();
    EXPECT_TRUE(Has(d.LogText(), "NativeDoIP: discovery response from 127.0.0.1"));
    EXPECT_EQ(gateway->DiscoveryRequests(), 2u);
}

TEST_F(ConnectDoip, NativeFailureIsReportedOrFallsBackToTheVci) {
    doipsim::GatewayConfig gc;
    gc.routingResponseCode = 0x06;
    StartGateway(gc);
    Open("NativeDoIP=1\n", kTraced);
    j2534::ULONG ch = 77;
    EXPECT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), j2534::ERR_FAILED);
    EXPECT_EQ(d.LastError(), "NativeDoIP: routing activation rejected (code=0x6)");
    EXPECT_EQ(ch, 77u);
    EXPECT_TRUE(Has(d.LogText(), "PassThruConnect: NativeDoIP failed: NativeDoIP: routing activation rejected "
                                 "(code=0x6)"));
    d.Close(dev);
    UnloadDriverCopy(&d);

    Open("NativeDoIP=1\nFallbackEnabled=1\n", kTraced);
    ASSERT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), 0) << d.LastError();
    std::string log = d.LogText();
    EXPECT_TRUE(Has(log, "PassThruConnect: NativeDoIP fallback enabled; continuing with D-PDU"));
    EXPECT_NE(Trace().find("kind=doip"), std::string::npos);
    EXPECT_TRUE(Has(log, "Dpdu_OpenLink: using resourceId (wrapper marker)"));
}

TEST_F(ConnectDoip, DirectRoadSwitchesTheVciEthernetFirst) {
    StartGateway();
    Open("DirectDoIP=1\n", kTraced);
    j2534::ULONG ch = 0;
    ASSERT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), 0) << d.LastError();
    std::string log = d.LogText();
    EXPECT_NE(log.find(" mode=Auto direct=1 native=0 "), std::string::npos);
    EXPECT_TRUE(Has(log, "PassThruConnect: DoIP connect requested (proto=0xE): choosing DirectDoIP"));
    EXPECT_TRUE(Has(log, "PassThruConnect: DirectDoIP pre-steps (ETH switch / Vehicle ID)"));
    EXPECT_TRUE(Has(log, "Dpdu_OpenLink: bypassed (DirectDoIP)"));
    EXPECT_TRUE(Has(log, "DirectDoIP: routing activation response code=0x10"));
    EXPECT_TRUE(Has(log, "PassThruConnect: DirectDoIP connected"));
    // The switch went on before the TCP connection was made.
    EXPECT_LT(log.find("IOCTL SET_ETH_SWITCH_STATE (18) state=1"), log.find("DirectDoIP: TCP connected"));
    EXPECT_EQ(Trace().find("PDUCreateComLogicalLink"), std::string::npos);
    // The switch goes off again with the device.
    EXPECT_EQ(d.Close(dev), 0);
    dev = 0;
    EXPECT_TRUE(Has(d.LogText(), "Dpdu_Shutdown: IOCTL SET_ETH_SWITCH_STATE (18) state=0 hCLL=4294967295 -> 0x0"));
}

TEST_F(ConnectDoip, DirectRoadWithoutItsPreSteps) {
    StartGateway();
    Open("Mode=Direct\n", "[Ioctls]\nFail=PDU_IOCTL_SET_ETH_SWITCH_STATE\n");
    j2534::ULONG ch = 77;
    EXPECT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), j2534::ERR_FAILED);
    EXPECT_EQ(ch, 0u);
    EXPECT_EQ(d.LastError(), "DoIP pre-steps failed (ETH switch)");
    EXPECT_TRUE(Has(d.LogText(), "PassThruConnect: DirectDoIP pre-steps failed: DoIP pre-steps failed (ETH switch)"));
    d.Close(dev);
    UnloadDriverCopy(&d);

    // With the fallback on, a failed switch does not stop the direct connection.
    Open("DirectDoIP=1\nDirectFallback=1\n", "[Ioctls]\nFail=PDU_IOCTL_SET_ETH_SWITCH_STATE\n");
    ASSERT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), 0) << d.LastError();
    EXPECT_TRUE(Has(d.LogText(), "PassThruConnect: DirectDoIP connected"));
    d.Close(dev);
    UnloadDriverCopy(&d);

    Open("DirectDoIP=1\nSwitchFirst=0\n", kTraced);
    ASSERT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), 0) << d.LastError();
    EXPECT_TRUE(Has(d.LogText(), "PassThruConnect: DirectDoIP pre-steps skipped (SwitchFirst=0)"));
    EXPECT_EQ(Trace().find("SET_ETH_SWITCH_STATE"), std::string::npos);
    d.Close(dev);
    UnloadDriverCopy(&d);

    Open("Mode=Direct\nNativeTargetIp=\nDiscovery=0\n");
    EXPECT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), j2534::ERR_FAILED);
    EXPECT_EQ(d.LastError(), "DirectDoIP requires TargetIp when Discovery=0");
    EXPECT_TRUE(Has(d.LogText(), "PassThruConnect: DirectDoIP failed: TargetIp is empty and Discovery=0"));
}

TEST_F(ConnectDoip, AutoPrefersDirectWhenBothAreOn) {
    StartGateway();
    Open("DirectDoIP=1\nNativeDoIP=1\n");
    j2534::ULONG ch = 0;
    ASSERT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), 0) << d.LastError();
    EXPECT_TRUE(Has(d.LogText(), "PassThruConnect: DirectDoIP connected"));
}

TEST_F(ConnectDoip, BackendAndDefaultRoadsOpenTheVciDoipLink) {
    StartGateway();
    Open("NativeDoIP=1\nMode=Backend\n", kTraced);
    j2534::ULONG ch = 0;
    ASSERT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), 0) << d.LastError();
    std::string log = d.LogText();
    EXPECT_TRUE(Has(log, "PassThruConnect: DoIP Mode=Backend (using D-PDU OpenLink)"));
    EXPECT_EQ(log.find("DoIP config:"), std::string::npos);
    EXPECT_NE(Trace().find("kind=doip"), std::string::npos);
    EXPECT_EQ(gateway->Connections(), 0u);
    d.Close(dev);
    UnloadDriverCopy(&d);

    Open("", kTraced);  // neither road of the driver's own
    ASSERT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), 0) << d.LastError();
    EXPECT_EQ(d.LogText().find("DoIP config:"), std::string::npos);
    EXPECT_NE(Trace().find("kind=doip"), std::string::npos);
}

TEST_F(ConnectDoip, NoEcuModeCreatesTheChannelWithoutALink) {
    StartGateway();
    Open("NativeDoIP=1\n", kTraced, "[Bench]\nNoEcuMode=1\n");
    j2534::ULONG ch = 0;
    ASSERT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), 0) << d.LastError();
    EXPECT_EQ(d.LastError(), "OK");
    EXPECT_TRUE(Has(d.LogText(), "PassThruConnect: NoEcuMode DoIP link skipped; channel created without link"));
    EXPECT_EQ(gateway->Connections(), 0u);
    EXPECT_EQ(Trace().find("PDUCreateComLogicalLink"), std::string::npos);
    EXPECT_EQ(d.Disconnect(ch), 0);
}

// Switched on once PassThruWriteMsgs and PassThruReadMsgs carry NativeDoIP channels.
TEST_F(ConnectDoip, UdsRequestThroughWriteAndReadMsgs) {
    StartGateway();
    Open("NativeDoIP=1\n");
    j2534::ULONG ch = 0;
    ASSERT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), 0) << d.LastError();
    j2534::PASSTHRU_MSG request{};
    request.ProtocolID = j2534::DOIP;
    request.DataSize = 3;
    request.Data[0] = 0x22;
    request.Data[1] = 0xF1;
    request.Data[2] = 0x90;
    j2534::ULONG count = 1;
    ASSERT_EQ(d.WriteMsgs(ch, &request, &count, 1000), 0) << d.LastError();
    EXPECT_EQ(count, 1u);
    j2534::PASSTHRU_MSG answer{};
    count = 1;
    ASSERT_EQ(d.ReadMsgs(ch, &answer, &count, 2000), 0) << d.LastError();
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(answer.ProtocolID, j2534::DOIP);
    ASSERT_EQ(answer.DataSize, 20u);
    EXPECT_EQ(answer.Data[0], 0x62);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(answer.Data) + 3, 17), "WVSIM000000000001");
    // Nothing more: an empty read times out with the client's text.
    count = 1;
    EXPECT_EQ(d.ReadMsgs(ch, &answer, &count, 50), j2534::ERR_BUFFER_EMPTY);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(d.LastError(), "NativeDoIP: timeout");
    // After the gateway closes, reads report the closed connection and writes fail.
    gateway->CloseConnection();
    count = 1;
    EXPECT_EQ(d.ReadMsgs(ch, &answer, &count, 2000), j2534::ERR_TIMEOUT);
    EXPECT_EQ(d.LastError(), "NativeDoIP: connection closed");
    count = 1;
    EXPECT_EQ(d.WriteMsgs(ch, &request, &count, 1000), j2534::ERR_FAILED);
    EXPECT_EQ(d.LastError(), "NativeDoIP: TCP send failed");
}

// Answers that wait in the client's queue come in one read, each stamped when it arrived.
TEST_F(ConnectDoip, WaitingAnswersComeInOneRead) {
    StartGateway();
    Open("NativeDoIP=1\n");
    j2534::ULONG ch = 0;
    ASSERT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), 0) << d.LastError();
    j2534::PASSTHRU_MSG requests[3] = {};
    for (j2534::PASSTHRU_MSG& r : requests) {
        r.ProtocolID = j2534::DOIP;
        r.DataSize = 2;
        r.Data[0] = 0x3E;
    }
    j2534::ULONG count = 3;
    ASSERT_EQ(d.WriteMsgs(ch, requests, &count, 1000), 0) << d.LastError();
    platform::SleepMs(300);
    j2534::PASSTHRU_MSG answers[10] = {};
    count = 10;
    ASSERT_EQ(d.ReadMsgs(ch, answers, &count, 1000), 0) << d.LastError();
    ASSERT_EQ(count, 3u);
    for (j2534::ULONG i = 0; i < count; ++i) {
        EXPECT_EQ(answers[i].DataSize, 2u);
        EXPECT_EQ(answers[i].Data[0], 0x7E);
        if (i > 0) {
            EXPECT_LT(static_cast<uint32_t>(answers[i].Timestamp - answers[i - 1].Timestamp), 0x80000000u);
        }
    }
    count = 10;
    EXPECT_EQ(d.ReadMsgs(ch, answers, &count, 0), j2534::ERR_BUFFER_EMPTY);
    EXPECT_EQ(count, 0u);
}
