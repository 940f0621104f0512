// The DoIP client against a simulated gateway in this process. Everything stays on loopback:
// the gateway listens on 127.0.0.1 (TCP port chosen by the system) and every discovery
// address a client is given is a loopback address. The gateway answers vehicle identification
// (UDP port 13400) only in suites named "...Discovery", which the build runs one at a time.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "doipsim/gateway.h"
#include "driver/config/driver_config.h"
#include "driver/doip/doip_client.h"
#include "tests/support/scoped_log.h"
#include "tests/support/loopback_gateway.h"
#include "tests/support/temp_dir.h"

class DoipTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = g_config;
        g_config.DoIP = DriverConfig().DoIP;
        dir_ = MakeScenarioDir(std::string("doip_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        log_.To(JoinPath(dir_, "driver.log"));
    }

    void TearDown() override {
        DoipClose(client_);
        client_ = nullptr;
        gateway_.reset();
        g_config = saved_;
    }

    doipsim::Gateway& StartGateway(doipsim::GatewayConfig cfg = {}, bool discoverable = false) {
        gateway_.reset();  // frees the ports of the one before
        gateway_ = StartLoopbackGateway(cfg, discoverable);
        if (!gateway_) throw std::runtime_error("no gateway");  // gtest reports it
        return *gateway_;
    }

    // A client config for the running gateway, addressed to its engine ECU.
    DoipConfig ClientConfig() const {
        DoipConfig c;
        c.targetIp = "127.0.0.1";
        c.targetPort = gateway_ ? gateway_->TcpPort() : 1;
        c.targetAddress = 0x0010;
        c.discoveryBroadcast = "127.0.0.1";
        c.discoveryTimeoutMs = 2000;
        return c;
    }

    // Connects with cfg; the client is closed by TearDown.
    bool Connect(const DoipConfig& cfg, std::string* error = nullptr) {
        std::string text;
        bool ok = DoipConnect(cfg, &client_, &text);
        if (error) *error = text;
        return ok;
    }

    // One request and the next diagnostic data that comes back.
    std::vector<uint8_t> Exchange(const std::vector<uint8_t>& request, uint32_t timeoutMs = 2000) {
        std::string error;
        EXPECT_TRUE(DoipSendDiagnostic(client_, request.data(), static_cast<uint32_t>(request.size()), &error))
            << error;
        std::vector<uint8_t> answer;
        EXPECT_EQ(DoipReceive(client_, timeoutMs, &answer, &error), DoipRx::Message) << error;
        return answer;
    }

    std::string Log() const { return ReadFileText(JoinPath(dir_, "driver.log")); }

    DriverConfig saved_;
    ScopedLog log_;
    std::string dir_;
    std::unique_ptr<doipsim::Gateway> gateway_;
    DoipClient* client_ = nullptr;
};

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> b;
    for (int v : values) b.push_back(static_cast<uint8_t>(v));
    return b;
}
