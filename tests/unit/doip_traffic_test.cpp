// A connected client's traffic: what the receive thread does with each kind of message, the
// log limits, the bounded queue, the end of the connection, and closing while threads wait.
#include <chrono>
#include <thread>

#include "tests/unit/doip_fixture.h"
#include "tests/unit/dpdu_fixture.h"

namespace {

// Waits until the client holds n queued messages; false after a few seconds.
bool WaitForQueued(DoipClient* c, size_t n) {
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard<std::mutex> lock(c->queueLock);
            if (c->receiveQueue.size() >= n) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A diagnostic message from the engine ECU to the tester carrying data.
std::vector<uint8_t> FromEngine(std::vector<uint8_t> data) {
    data.insert(data.begin(), {0x00, 0x10, 0x0E, 0x80});
    return data;
}

}  // namespace

TEST_F(DoipTest, AliveCheckIsAnsweredWithTheSourceAddress) {
    doipsim::GatewayConfig gc;
    gc.aliveCheckIntervalMs = 40;
    doipsim::Gateway& g = StartGateway(gc);
    ASSERT_TRUE(Connect(ClientConfig()));
    ASSERT_TRUE(g.WaitForReceived(0x0008, 2, 5000));
    for (const auto& m : g.Received())
        if (m[2] == 0x00 && m[3] == 0x08) {
            EXPECT_EQ(m, Bytes({0x02, 0xFD, 0x00, 0x08, 0, 0, 0, 2, 0x0E, 0x80}));
        }
    // Alive checks do not disturb the diagnostic traffic.
    EXPECT_EQ(Exchange(Bytes({0x3E, 0x00})), Bytes({0x7E, 0x00}));
}

TEST_F(DoipTest, DiagnosticMessagesShorterThanTheirAddressesAreDropped) {
    doipsim::Gateway& g = StartGateway();
    ASSERT_TRUE(Connect(ClientConfig()));
    ASSERT_TRUE(g.Send(0x8001, Bytes({0x00, 0x10, 0x0E})));  // 3 bytes: dropped
    ASSERT_TRUE(g.Send(0x8001, Bytes({0x00, 0x10, 0x0E, 0x80})));  // 4 bytes: empty user data
    ASSERT_TRUE(g.Send(0x8001, FromEngine({0xAA})));
    std::vector<uint8_t> data = {0xFF};
    std::string error;
    ASSERT_EQ(DoipReceive(client_, 2000, &data, &error), DoipRx::Message) << error;
    EXPECT_TRUE(data.empty());
    ASSERT_EQ(DoipReceive(client_, 2000, &data, &error), DoipRx::Message) << error;
    EXPECT_EQ(data, Bytes({0xAA}));
    EXPECT_NE(DoipReceive(client_, 0, &data, &error), DoipRx::Message);
    EXPECT_EQ(error, "NativeDoIP: timeout");
}

TEST_F(DoipTest, OtherMessagesAreLoggedAndActivationAnswersCount) {
    doipsim::Gateway& g = StartGateway();
    DoipConfig cfg = ClientConfig();
    cfg.doRoutingActivation = false;
    ASSERT_TRUE(Connect(cfg));
    ASSERT_TRUE(g.WaitForConnections(1, 5000));
    ASSERT_TRUE(g.Send(0x1234, Bytes({1, 2})));
    ASSERT_TRUE(g.Send(0x0006, Bytes({0x0E, 0x80, 0x10, 0x10, 0x10, 0, 0, 0, 0})));
    ASSERT_TRUE(g.Send(0x8003, Bytes({0x00, 0x10, 0x0E, 0x80, 0x03})));
    ASSERT_TRUE(g.Send(0x8002, Bytes({0x00, 0x10, 0x0E, 0x80, 0x00})));  // the fourth: not logged
    ASSERT_TRUE(g.Send(0x8001, FromEngine({0x01})));
    std::vector<uint8_t> data;
    std::string error;
    ASSERT_EQ(DoipReceive(client_, 2000, &data, &error), DoipRx::Message) << error;
    const std::string log = Log();
    EXPECT_NE(log.find("NativeDoIP: rx payloadType=0x1234 len=2\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("NativeDoIP: rx routing activation response payload=0e 80 10 10 10 00 00 00 00\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("NativeDoIP: rx ack payloadType=0x8003 payload=00 10 0e 80 03\r\n"), std::string::npos);
    EXPECT_EQ(CountOf(log, "NativeDoIP: rx ack payloadType=0x8002"), 0u);
}

TEST_F(DoipTest, OnlyTheFirstFiveDiagnosticMessagesEachWayAreLogged) {
    StartGateway();
    ASSERT_TRUE(Connect(ClientConfig()));
    for (int i = 0; i < 7; ++i) EXPECT_EQ(Exchange(Bytes({0x3E, 0x00})), Bytes({0x7E, 0x00}));
    const std::string log = Log();
    EXPECT_EQ(CountOf(log, "NativeDoIP: tx diag #"), 5u);
    EXPECT_EQ(CountOf(log, "NativeDoIP: rx diag #"), 5u);
    EXPECT_NE(log.find("NativeDoIP: tx diag #5 size=2 data=3e 00\r\n"), std::string::npos);
    EXPECT_NE(log.find("NativeDoIP: rx diag #5 size=2 data=7e 00\r\n"), std::string::npos);
    EXPECT_EQ(CountOf(log, "NativeDoIP: rx ack payloadType=0x8002"), 3u);
}

TEST_F(DoipTest, LongDataIsShownCutInTheLog) {
    doipsim::GatewayConfig gc;
    gc.ecus[0].dids[0xF1A0] = std::vector<uint8_t>(100, 0x5A);
    StartGateway(gc);
    ASSERT_TRUE(Connect(ClientConfig()));
    std::vector<uint8_t> answer = Exchange(Bytes({0x22, 0xF1, 0xA0}));
    EXPECT_EQ(answer.size(), 103u);
    std::string shown = "62 f1 a0";
    for (int i = 0; i < 29; ++i) shown += " 5a";
    EXPECT_NE(Log().find("NativeDoIP: rx diag #1 size=103 data=" + shown + " ...\r\n"), std::string::npos);
}

TEST_F(DoipTest, QueuedDataOutlivesTheConnection) {
    doipsim::Gateway& g = StartGateway();
    ASSERT_TRUE(Connect(ClientConfig()));
    ASSERT_TRUE(g.Send(0x8001, FromEngine({0x01})));
    ASSERT_TRUE(g.Send(0x8001, FromEngine({0x02})));
    ASSERT_TRUE(WaitForQueued(client_, 2));
    g.CloseConnection();
    std::vector<uint8_t> data;
    std::string error;
    ASSERT_EQ(DoipReceive(client_, 2000, &data, &error), DoipRx::Message);
    EXPECT_EQ(data, Bytes({0x01}));
    ASSERT_EQ(DoipReceive(client_, 2000, &data, &error), DoipRx::Message);
    EXPECT_EQ(data, Bytes({0x02}));
    EXPECT_NE(DoipReceive(client_, 2000, &data, &error), DoipRx::Message);
    EXPECT_EQ(error, "NativeDoIP: connection closed");
    const uint8_t request[] = {0x3E, 0x00};
    EXPECT_FALSE(DoipSendDiagnostic(client_, request, 2, &error));
    EXPECT_EQ(error, "NativeDoIP: TCP send failed");
}

// Misbehaviour after routing is active: whatever breaks the stream ends the connection, and
// readers learn it instead of waiting.
TEST_F(DoipTest, GatewayMisbehavingOnDiagnosticTraffic) {
    using doipsim::Misbehaviour;
    for (Misbehaviour how : {Misbehaviour::TruncatedHeader, Misbehaviour::OversizedLength,
                             Misbehaviour::CloseMidMessage, Misbehaviour::Silent}) {
        doipsim::GatewayConfig gc;
        gc.misbehaviour = how;
        gc.misbehaveOnDiagnostic = true;
        StartGateway(gc);
        ASSERT_TRUE(Connect(ClientConfig()));
        const uint8_t request[] = {0x22, 0xF1, 0x90};
        std::string error;
        ASSERT_TRUE(DoipSendDiagnostic(client_, request, sizeof request, &error));
        std::vector<uint8_t> data;
        EXPECT_NE(DoipReceive(client_, how == Misbehaviour::Silent ? 200 : 5000, &data, &error), DoipRx::Message);
        EXPECT_EQ(error, how == Misbehaviour::Silent ? "NativeDoIP: timeout" : "NativeDoIP: connection closed")
            << static_cast<int>(how);
        DoipClose(client_);
        client_ = nullptr;
    }
}

// A gateway that stops reading: sends fail after the time-out instead of holding the host
// thread, and the connection ends (part of a message may have gone out).
TEST_F(DoipTest, SendsToAGatewayThatStopsReadingEnd) {
    doipsim::GatewayConfig gc;
    gc.misbehaviour = doipsim::Misbehaviour::StopsReading;
    gc.misbehaveOnDiagnostic = true;
    StartGateway(gc);
    DoipConfig cfg = ClientConfig();
    cfg.discoveryTimeoutMs = 300;
    ASSERT_TRUE(Connect(cfg));
    const std::vector<uint8_t> block(4096, 0x36);
    std::string error;
    int sent = 0;
    while (sent < 100000 && DoipSendDiagnostic(client_, block.data(), 4096, &error)) ++sent;
    EXPECT_LT(sent, 100000);  // the socket buffers filled up long before
    EXPECT_EQ(error, "NativeDoIP: TCP send failed");
    // What came before stays readable; then the end is reported.
    std::vector<uint8_t> data;
    for (int i = 0; i < 10 && DoipReceive(client_, 2000, &data, &error) == DoipRx::Message; ++i) {
    }
    EXPECT_EQ(error, "NativeDoIP: connection closed");
}

TEST_F(DoipTest, SlowGatewayAnswersArriveWhole) {
    doipsim::GatewayConfig gc;
    gc.misbehaviour = doipsim::Misbehaviour::SlowPeer;
    gc.misbehaveOnDiagnostic = true;
    StartGateway(gc);
    ASSERT_TRUE(Connect(ClientConfig()));
    std::vector<uint8_t> answer = Exchange(Bytes({0x22, 0xF1, 0x90}), 5000);
    EXPECT_EQ(std::string(answer.begin() + 3, answer.end()), "WVSIM000000000001");
}

TEST_F(DoipTest, HostSideArgumentsAreChecked) {
    StartGateway();
    std::string error;
    std::vector<uint8_t> data;
    const uint8_t request[] = {0x3E, 0x00};
    EXPECT_FALSE(DoipSendDiagnostic(nullptr, request, 2, &error));
    EXPECT_EQ(error, "NativeDoIP: channel not initialized");
    EXPECT_NE(DoipReceive(nullptr, 0, &data, &error), DoipRx::Message);
    EXPECT_EQ(error, "NativeDoIP: channel not initialized");
    ASSERT_TRUE(Connect(ClientConfig()));
    EXPECT_FALSE(DoipSendDiagnostic(client_, request, 0, &error));
    EXPECT_EQ(error, "NativeDoIP: no data");
    EXPECT_FALSE(DoipSendDiagnostic(client_, nullptr, 2, &error));
    EXPECT_EQ(error, "NativeDoIP: no data");
    client_->routingActive = false;
    EXPECT_FALSE(DoipSendDiagnostic(client_, request, 2, &error));
    EXPECT_EQ(error, "NativeDoIP: routing not active");
}

// A peer that sends faster than the host reads: the queue keeps the newest messages up to its
// bound and says so once.
TEST_F(DoipTest, ReceiveQueueDropsTheOldestBeyondItsBound) {
    doipsim::Gateway& g = StartGateway();
    ASSERT_TRUE(Connect(ClientConfig()));
    const size_t total = kDoipQueueMaxMessages + 10;
    std::vector<uint8_t> burst;
    for (size_t i = 0; i < total; ++i) {
        std::vector<uint8_t> m = {0x02, 0xFD, 0x80, 0x01, 0, 0, 0, 6, 0x00, 0x10, 0x0E, 0x80,
                                  static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
        burst.insert(burst.end(), m.begin(), m.end());
    }
    ASSERT_TRUE(g.SendRaw(burst));
    ASSERT_TRUE(g.Send(0x8001, FromEngine({0xEE, 0xEE})));  // marks the end
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard<std::mutex> lock(client_->queueLock);
            if (!client_->receiveQueue.empty() && client_->receiveQueue.back().data == Bytes({0xEE, 0xEE})) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    {
        std::lock_guard<std::mutex> lock(client_->queueLock);
        EXPECT_EQ(client_->receiveQueue.size(), kDoipQueueMaxMessages);
    }
    std::vector<uint8_t> data;
    std::string error;
    ASSERT_EQ(DoipReceive(client_, 0, &data, &error), DoipRx::Message);
    EXPECT_EQ(data, Bytes({0x00, 11}));  // messages 0 to 10 were dropped
    EXPECT_EQ(CountOf(Log(), "NativeDoIP: receive queue full (4096 messages or 16777216 bytes); dropping the "
                             "oldest messages\r\n"),
              1u);
}

// Run under ThreadSanitizer by scripts/test: the end of a client while its receive thread
// waits on a silent socket and while a host thread waits for data.
class DoipClosing : public ::testing::Test {
protected:
    void SetUp() override {
        gateway_ = StartLoopbackGateway();
        ASSERT_TRUE(gateway_);
        cfg_.targetIp = "127.0.0.1";
        cfg_.targetPort = gateway_->TcpPort();
        cfg_.discoveryBroadcast = "127.0.0.1";
    }
    std::unique_ptr<doipsim::Gateway> gateway_;
    DoipConfig cfg_;
};

TEST_F(DoipClosing, WhileTheReceiveThreadWaits) {
    for (int i = 0; i < 3; ++i) {
        DoipClient* c = nullptr;
        std::string error;
        ASSERT_TRUE(DoipConnect(cfg_, &c, &error)) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        DoipClose(c);
    }
}

TEST_F(DoipClosing, WhileAReaderWaits) {
    DoipClient* raw = nullptr;
    std::string error;
    ASSERT_TRUE(DoipConnect(cfg_, &raw, &error)) << error;
    // As the channel holds it: whoever lets go last frees the client.
    std::shared_ptr<DoipClient> channel(raw, DoipClose);
    std::string readerError;
    std::thread reader([held = channel, &readerError] {
        std::vector<uint8_t> data;
        DoipReceive(held.get(), 20000, &data, &readerError);
    });
    std::thread writer([held = channel] {
        const uint8_t request[] = {0x3E, 0x00};
        std::string e;
        for (int i = 0; i < 20; ++i) DoipSendDiagnostic(held.get(), request, 2, &e);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    DoipStop(channel.get());
    channel.reset();
    reader.join();
    writer.join();
    // The requests go to an address no ECU has: nothing but the stop wakes the reader.
    EXPECT_EQ(readerError, "NativeDoIP: connection closed");
}
