#include "tests/support/loopback_gateway.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

std::unique_ptr<doipsim::Gateway> StartLoopbackGateway(doipsim::GatewayConfig cfg, bool discoverable) {
    cfg.address = "127.0.0.1";
    cfg.tcpPort = 0;
    cfg.udp = discoverable;
    std::unique_ptr<doipsim::Gateway> gateway(new doipsim::Gateway(cfg));
    std::string error;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (gateway->Start(&error)) return gateway;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ADD_FAILURE() << "the simulated gateway does not start: " << error;
    return nullptr;
}
