// Finding the gateway by vehicle identification. The gateway answers on 127.0.0.1 port 13400;
// this suite runs apart from all others (see tests/CMakeLists.txt), and every request goes to
// loopback addresses only.
#include "tests/unit/doip_fixture.h"

namespace {

class DoipDiscovery : public DoipTest {
protected:
    doipsim::Gateway& StartDiscoverable(doipsim::GatewayConfig cfg = {}) { return StartGateway(cfg, true); }

    DoipConfig Discovering() const {
        DoipConfig cfg = ClientConfig();
        cfg.targetIp = "";
        cfg.discoveryUnicast = "127.0.0.1";
        cfg.discoveryBroadcast = "127.0.0.1";
        return cfg;
    }
};

// Nothing answers vehicle identification on this loopback address.
const char kSilentAddress[] = "127.0.0.24";

}  // namespace

TEST_F(DoipDiscovery, EmptyTargetDiscoversTheGateway) {
    doipsim::Gateway& g = StartDiscoverable();
    ASSERT_TRUE(Connect(Discovering()));
    EXPECT_EQ(client_->targetIp, "127.0.0.1");
    EXPECT_EQ(g.DiscoveryRequests(), 2u);  // one unicast, one "broadcast"
    const std::string log = Log();
    EXPECT_NE(log.find("NativeDoIP: discovery unicast -> 127.0.0.1\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("NativeDoIP: discovery broadcast -> 127.0.0.1\r\n"), std::string::npos);
    EXPECT_NE(log.find("NativeDoIP: discovery response from 127.0.0.1\r\n"), std::string::npos);
    EXPECT_NE(log.find("NativeDoIP: using targetIp=127.0.0.1\r\n"), std::string::npos);
    EXPECT_EQ(Exchange(Bytes({0x3E, 0x00})), Bytes({0x7E, 0x00}));
}

TEST_F(DoipDiscovery, InvalidOrBroadcastTargetFallsBackToDiscovery) {
    doipsim::Gateway& g = StartDiscoverable();
    DoipConfig cfg = Discovering();
    cfg.discoveryUnicast = "";
    cfg.targetIp = "10.0.0.x";
    ASSERT_TRUE(Connect(cfg));
    EXPECT_EQ(g.DiscoveryRequests(), 1u);
    EXPECT_NE(Log().find("NativeDoIP: invalid targetIp '10.0.0.x'; falling back to discovery\r\n"), std::string::npos);
    DoipClose(client_);
    client_ = nullptr;

    cfg.targetIp = "255.255.255.255";
    ASSERT_TRUE(Connect(cfg));
    EXPECT_EQ(g.DiscoveryRequests(), 2u);
}

TEST_F(DoipDiscovery, AnswersThatNameNoGateway) {
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
        doipsim::GatewayConfig gc;
        gc.discoveryAnswer = c.answer;
        StartDiscoverable(gc);
        std::string address, error;
        EXPECT_EQ(DoipDiscover(Discovering(), &address, &error), c.error[0] == 0);
        EXPECT_EQ(error, c.error);
        if (c.error[0] == 0) {
            EXPECT_EQ(address, "127.0.0.1");
        }
    }
}

TEST_F(DoipDiscovery, Failures) {
    DoipConfig cfg;
    cfg.discoveryTimeoutMs = 200;
    std::string address, error;
    cfg.discoveryUnicast = kSilentAddress;
    cfg.discoveryBroadcast = kSilentAddress;
    EXPECT_FALSE(DoipDiscover(cfg, &address, &error));
    EXPECT_EQ(error, "NativeDoIP: discovery timeout");
    // The connect reports discovery's own error.
    cfg.tag = "DirectDoIP";
    EXPECT_FALSE(Connect(cfg, &error));
    EXPECT_EQ(error, "DirectDoIP: discovery timeout");
}

// Neither of these sends anything.
TEST_F(DoipTest, DiscoveryWithoutAUsableAddress) {
    DoipConfig cfg;
    cfg.discoveryTimeoutMs = 200;
    std::string address, error;
    // An invalid broadcast address is not replaced by the default one.
    cfg.discoveryUnicast = "";
    cfg.discoveryBroadcast = "vehicle";
    EXPECT_FALSE(DoipDiscover(cfg, &address, &error));
    EXPECT_EQ(error, "NativeDoIP: discovery send failed");
#if !defined(_WIN32)  // Wine accepts any address for a UDP socket
    cfg.bindIp = "192.0.2.1";  // not an address of this machine
    cfg.discoveryBroadcast = kSilentAddress;
    EXPECT_FALSE(DoipDiscover(cfg, &address, &error));
    EXPECT_EQ(error, "NativeDoIP: UDP bind failed");
#endif
}
