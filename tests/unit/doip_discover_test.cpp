// Finding the gateway by vehicle identification. Each test's gateway answers on port 13400 of
// its own loopback address, and every request goes to loopback addresses only.
#include "tests/unit/doip_fixture.h"

namespace {

doipsim::GatewayConfig DiscoverableAt(int n) {
    doipsim::GatewayConfig gc;
    gc.address = DiscoveryAddress(n);
    return gc;
}

}  // namespace

TEST_F(DoipTest, EmptyTargetDiscoversTheGateway) {
    doipsim::Gateway& g = StartGateway(DiscoverableAt(21));
    DoipConfig cfg = ClientConfig();
    cfg.targetIp = "";
    cfg.discoveryUnicast = DiscoveryAddress(21);
    cfg.discoveryBroadcast = DiscoveryAddress(21);
    ASSERT_TRUE(Connect(cfg));
    EXPECT_EQ(client_->targetIp, "127.0.0.21");
    EXPECT_EQ(g.DiscoveryRequests(), 2u);  // one unicast, one "broadcast"
    const std::string log = Log();
    EXPECT_NE(log.find("NativeDoIP: discovery unicast -> 127.0.0.21\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("NativeDoIP: discovery broadcast -> 127.0.0.21\r\n"), std::string::npos);
    EXPECT_NE(log.find("NativeDoIP: discovery response from 127.0.0.21\r\n"), std::string::npos);
    EXPECT_NE(log.find("NativeDoIP: using targetIp=127.0.0.21\r\n"), std::string::npos);
    EXPECT_EQ(Exchange(Bytes({0x3E, 0x00})), Bytes({0x7E, 0x00}));
}

TEST_F(DoipTest, InvalidOrBroadcastTargetFallsBackToDiscovery) {
    StartGateway(DiscoverableAt(22));
    DoipConfig cfg = ClientConfig();
    cfg.discoveryUnicast = "";
    cfg.discoveryBroadcast = DiscoveryAddress(22);
    cfg.targetIp = "10.0.0.x";
    ASSERT_TRUE(Connect(cfg));
    EXPECT_EQ(client_->targetIp, "127.0.0.22");
    EXPECT_NE(Log().find("NativeDoIP: invalid targetIp '10.0.0.x'; falling back to discovery\r\n"), std::string::npos);
    DoipClose(client_);
    client_ = nullptr;

    cfg.targetIp = "255.255.255.255";
    ASSERT_TRUE(Connect(cfg));
    EXPECT_EQ(client_->targetIp, "127.0.0.22");
}

TEST_F(DoipTest, DiscoveryAnswersThatNameNoGateway) {
    using doipsim::DiscoveryAnswer;
    const struct {
        DiscoveryAnswer answer;
        const char* error;
    } cases[] = {
        {DiscoveryAnswer::Short, "NativeDoIP: discovery response too short"},
        {DiscoveryAnswer::WrongType, "NativeDoIP: unexpected discovery response"},
        {DiscoveryAnswer::Oversized, ""},  // cut to the buffer, still an identification answer
    };
    for (const auto& c : cases) {
        doipsim::GatewayConfig gc = DiscoverableAt(23);
        gc.discoveryAnswer = c.answer;
        StartGateway(gc);
        DoipConfig cfg = ClientConfig();
        cfg.discoveryUnicast = DiscoveryAddress(23);
        cfg.discoveryBroadcast = DiscoveryAddress(23);
        std::string address, error;
        EXPECT_EQ(DoipDiscover(cfg, &address, &error), c.error[0] == 0);
        EXPECT_EQ(error, c.error);
        if (c.error[0] == 0) {
            EXPECT_EQ(address, "127.0.0.23");
        }
    }
}

TEST_F(DoipTest, DiscoveryFailures) {
    DoipConfig cfg;
    cfg.discoveryTimeoutMs = 200;
    std::string address, error;
    // Nothing answers on this loopback address.
    cfg.discoveryUnicast = DiscoveryAddress(24);
    cfg.discoveryBroadcast = DiscoveryAddress(24);
    EXPECT_FALSE(DoipDiscover(cfg, &address, &error));
    EXPECT_EQ(error, "NativeDoIP: discovery timeout");
    // No address to send to (an invalid broadcast address is not replaced by the default).
    cfg.discoveryUnicast = "";
    cfg.discoveryBroadcast = "vehicle";
    EXPECT_FALSE(DoipDiscover(cfg, &address, &error));
    EXPECT_EQ(error, "NativeDoIP: discovery send failed");
    cfg.bindIp = "192.0.2.1";  // not an address of this machine
    cfg.discoveryBroadcast = DiscoveryAddress(24);
    EXPECT_FALSE(DoipDiscover(cfg, &address, &error));
    EXPECT_EQ(error, "NativeDoIP: UDP bind failed");
    // The connect reports discovery's own error.
    cfg.bindIp = "";
    cfg.targetIp = "";
    cfg.tag = "DirectDoIP";
    EXPECT_FALSE(Connect(cfg, &error));
    EXPECT_EQ(error, "DirectDoIP: discovery timeout");
}
