// DoipConnect against the simulated gateway: the connect steps and their log, routing
// activation and the entity address, the bounds on a gateway that does not answer, and the
// gateway misbehaving before routing is active.
#include <chrono>

#include "platform/platform.h"
#include "tests/unit/doip_fixture.h"
#include "tests/unit/dpdu_fixture.h"

namespace {

std::vector<std::vector<uint8_t>> MessagesOfType(const doipsim::Gateway& g, uint16_t type) {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& m : g.Received())
        if (m.size() >= 8 && (m[2] << 8 | m[3]) == type) out.push_back(m);
    return out;
}

bool Has(const std::string& log, const std::string& line) { return log.find(line + "\r\n") != std::string::npos; }

}  // namespace

TEST_F(DoipTest, ConnectActivatesRoutingAndCarriesUds) {
    doipsim::Gateway& g = StartGateway();
    DoipConfig cfg = ClientConfig();
    cfg.targetIp = "  '127.0.0.1' ";
    ASSERT_TRUE(Connect(cfg));
    EXPECT_TRUE(client_->routingActive.load());
    std::vector<uint8_t> answer = Exchange(Bytes({0x22, 0xF1, 0x90}));
    ASSERT_GE(answer.size(), 3u);
    EXPECT_EQ(std::string(answer.begin() + 3, answer.end()), "WVSIM000000000001");
    EXPECT_EQ(answer[0], 0x62);

    const std::string port = std::to_string(g.TcpPort());
    const std::string log = Log();
    EXPECT_TRUE(Has(log, "NativeDoIP: config targetIp='127.0.0.1' bindIp='' discoveryBroadcast='127.0.0.1' "
                         "discoveryUnicast='' targetPort=" + port)) << log;
    EXPECT_TRUE(Has(log, "NativeDoIP: using targetIp=127.0.0.1"));
    EXPECT_TRUE(Has(log, "NativeDoIP: TCP connected to 127.0.0.1:" + port));
    EXPECT_TRUE(Has(log, "NativeDoIP: routing activation request payload=0e 80 00 00 00 00 00"));
    EXPECT_TRUE(Has(log, "NativeDoIP: routing activation response payload=0e 80 10 10 10 00 00 00 00"));
    EXPECT_TRUE(Has(log, "NativeDoIP: routing activation response code=0x10"));
    EXPECT_TRUE(Has(log, "NativeDoIP: RA response addresses A=0x0e80 B=0x1010"));
    EXPECT_TRUE(Has(log, "NativeDoIP: WARN: RA entity address 0x1010 differs from configured target 0x0010"));
    EXPECT_TRUE(Has(log, "NativeDoIP: tx diag #1 size=3 data=22 f1 90"));
    EXPECT_TRUE(Has(log, "NativeDoIP: rx ack payloadType=0x8002 payload=00 10 0e 80 00"));
    EXPECT_NE(log.find("NativeDoIP: rx diag #1 size=20 data=62 f1 90 57 56 53 49 4d"), std::string::npos);
    // The gateway saw the request addressed from the tester to the ECU.
    auto diag = MessagesOfType(g, 0x8001);
    ASSERT_EQ(diag.size(), 1u);
    EXPECT_EQ(diag[0], Bytes({0x02, 0xFD, 0x80, 0x01, 0, 0, 0, 7, 0x0E, 0x80, 0x00, 0x10, 0x22, 0xF1, 0x90}));
}

TEST_F(DoipTest, ActivationRequestCarriesSourceAndType) {
    doipsim::Gateway& g = StartGateway();
    DoipConfig cfg = ClientConfig();
    cfg.activationType = 0xE0;
    cfg.sourceAddress = 0x0E80;
    ASSERT_TRUE(Connect(cfg));
    auto ra = MessagesOfType(g, 0x0005);
    ASSERT_EQ(ra.size(), 1u);
    EXPECT_EQ(ra[0], Bytes({0x02, 0xFD, 0x00, 0x05, 0, 0, 0, 7, 0x0E, 0x80, 0xE0, 0, 0, 0, 0}));
}

TEST_F(DoipTest, EntityAddressOfTheActivationAnswer) {
    StartGateway();  // answers B = 0x1010, which its first ECU serves
    DoipConfig cfg = ClientConfig();
    cfg.targetAddress = 0x0E00;
    ASSERT_TRUE(Connect(cfg));
    EXPECT_EQ(client_->targetAddress, 0x0E00);  // kept, with a warning
    EXPECT_TRUE(Has(Log(), "NativeDoIP: WARN: RA entity address 0x1010 differs from configured target 0x0e00"));
    DoipClose(client_);
    client_ = nullptr;

    cfg.useRaEntityAddress = true;
    ASSERT_TRUE(Connect(cfg));
    EXPECT_EQ(client_->targetAddress, 0x1010);
    EXPECT_TRUE(Has(Log(), "NativeDoIP: RA updated targetAddress=0x1010 (UseRaEntityAddress=1)"));
    EXPECT_EQ(Exchange(Bytes({0x3E, 0x00})), Bytes({0x7E, 0x00}));
    DoipClose(client_);
    client_ = nullptr;

    // A placeholder target takes the entity's address without being asked.
    for (uint32_t placeholder : {0x0000u, 0x0001u, 0xFFFFu}) {
        cfg.useRaEntityAddress = false;
        cfg.targetAddress = placeholder;
        ASSERT_TRUE(Connect(cfg));
        EXPECT_EQ(client_->targetAddress, 0x1010);
        DoipClose(client_);
        client_ = nullptr;
    }
    EXPECT_EQ(CountOf(Log(), "NativeDoIP: RA updated targetAddress=0x1010\r\n"), 3u);
}

TEST_F(DoipTest, RejectedActivationLeavesNothingBehind) {
    doipsim::GatewayConfig gc;
    gc.routingResponseCode = 0x06;
    doipsim::Gateway& g = StartGateway(gc);
    std::string error;
    EXPECT_FALSE(Connect(ClientConfig(), &error));
    EXPECT_EQ(error, "NativeDoIP: routing activation rejected (code=0x6)");
    EXPECT_EQ(client_, nullptr);
    EXPECT_TRUE(Has(Log(), "NativeDoIP: routing activation response code=0x06"));
    EXPECT_EQ(g.Connections(), 1u);
}

TEST_F(DoipTest, WithoutRoutingActivationSendsAtOnce) {
    doipsim::GatewayConfig gc;
    gc.requireRoutingActivation = false;
    doipsim::Gateway& g = StartGateway(gc);
    DoipConfig cfg = ClientConfig();
    cfg.doRoutingActivation = false;
    ASSERT_TRUE(Connect(cfg));
    EXPECT_TRUE(Has(Log(), "NativeDoIP: routing activation disabled (DoRoutingActivation=0)"));
    EXPECT_EQ(Exchange(Bytes({0x10, 0x03})), Bytes({0x50, 0x03, 0x00, 0x32, 0x01, 0xF4}));
    EXPECT_TRUE(MessagesOfType(g, 0x0005).empty());
}

TEST_F(DoipTest, AddressAndBindTexts) {
    StartGateway();
    DoipConfig cfg = ClientConfig();
    cfg.bindIp = "\"127.0.0.1\"";
    ASSERT_TRUE(Connect(cfg));
    EXPECT_TRUE(Has(Log(), "NativeDoIP: TCP bound to 127.0.0.1"));
    DoipClose(client_);
    client_ = nullptr;

    cfg.bindIp = "local";  // not an address: connects unbound
    ASSERT_TRUE(Connect(cfg));
    EXPECT_TRUE(Has(Log(), "NativeDoIP: invalid bindIp 'local'"));
    DoipClose(client_);
    client_ = nullptr;

    std::string error;
    cfg.bindIp = "192.0.2.1";  // a valid address this machine does not have
    EXPECT_FALSE(Connect(cfg, &error));
    EXPECT_EQ(error, "NativeDoIP: TCP bind failed");

    EXPECT_FALSE(DoipConnect(ClientConfig(), nullptr, &error));
    EXPECT_EQ(error, "NativeDoIP: invalid output channel");
    cfg = ClientConfig();
    cfg.tag = "DirectDoIP";
    cfg.targetPort = 1;  // nothing listens there
    EXPECT_FALSE(Connect(cfg, &error));
    EXPECT_EQ(error, "DirectDoIP: TCP connect failed");
}

TEST_F(DoipTest, TagFollowsTheConfigurationWhenNoneIsGiven) {
    DoipConfig cfg;
    cfg.targetIp = "127.0.0.1";
    cfg.targetPort = 1;
    std::string error;
    g_config.DoIP.DirectDoIP = true;
    EXPECT_FALSE(DoipConnect(cfg, &client_, &error));
    EXPECT_EQ(error, "DirectDoIP: TCP connect failed");
    g_config.DoIP.NativeDoIP = true;
    EXPECT_FALSE(DoipConnect(cfg, &client_, &error));
    EXPECT_EQ(error, "NativeDoIP: TCP connect failed");
}

// A gateway whose listen queue is full never completes the handshake: the connect ends after
// the configured time, not after the system's own connect time-out of minutes.
TEST_F(DoipTest, ConnectWithoutAnswerEndsAtTheTimeout) {
    platform::SocketsStart();
    uint32_t loopback = 0;
    ASSERT_TRUE(platform::ParseIpv4("127.0.0.1", &loopback));
    platform::SocketHandle listener = platform::OpenTcpSocket();
    uint16_t port = 0;
    ASSERT_TRUE(platform::SocketBind(listener, loopback, 0));
    ASSERT_TRUE(platform::SocketListen(listener, 1));
    ASSERT_TRUE(platform::SocketLocalAddress(listener, nullptr, &port));
    std::vector<platform::SocketHandle> fillers;
    for (int i = 0; i < 16; ++i) {
        platform::SocketHandle s = platform::OpenTcpSocket();
        fillers.push_back(s);
        if (platform::SocketConnect(s, loopback, port, 300) == platform::ConnectResult::TimedOut) break;
    }
    DoipConfig cfg = ClientConfig();
    cfg.targetPort = port;
    cfg.discoveryTimeoutMs = 400;
    std::string error;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Connect(cfg, &error));
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(error, "NativeDoIP: TCP connect failed");
    EXPECT_LT(seconds, 20);  // far below any system connect time-out
    for (platform::SocketHandle s : fillers) platform::SocketClose(s);
    platform::SocketClose(listener);
}

// A gateway that misbehaves at routing activation: each way ends the connect with its own
// text, the silent one at the deadline.
TEST_F(DoipTest, GatewayMisbehavingAtActivation) {
    using doipsim::Misbehaviour;
    const struct {
        Misbehaviour how;
        const char* error;
    } cases[] = {
        {Misbehaviour::Silent, "NativeDoIP: routing activation response timeout"},
        {Misbehaviour::TruncatedHeader, "NativeDoIP: routing activation response not received"},
        {Misbehaviour::OversizedLength, "NativeDoIP: routing activation response payload too large"},
        {Misbehaviour::CloseMidMessage, "NativeDoIP: routing activation response payload read failed"},
    };
    for (const auto& c : cases) {
        doipsim::GatewayConfig gc;
        gc.misbehaviour = c.how;
        StartGateway(gc);
        DoipConfig cfg = ClientConfig();
        cfg.discoveryTimeoutMs = 300;
        std::string error;
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(Connect(cfg, &error));
        auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(client_, nullptr);
        EXPECT_LT(seconds, 20);
    }
}

TEST_F(DoipTest, SlowGatewayStillActivatesAndAnswers) {
    doipsim::GatewayConfig gc;
    gc.misbehaviour = doipsim::Misbehaviour::SlowPeer;
    StartGateway(gc);
    ASSERT_TRUE(Connect(ClientConfig()));
    EXPECT_EQ(Exchange(Bytes({0x3E, 0x00})), Bytes({0x7E, 0x00}));
}
