// doipsim: runs one simulated DoIP gateway until Enter is pressed (or for --seconds).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "doipsim/gateway.h"

namespace {

const char kUsage[] =
    "usage: doipsim [--address 127.0.0.1] [--port 13400] [--udp-port 13400 | --no-udp]\n"
    "               [--entity 0x1010] [--ra-code 0x10] [--alive-ms N] [--no-routing-required]\n"
    "               [--misbehave silent|truncated|oversized|close-mid|slow|deaf] [--on-diagnostic]\n"
    "               [--discovery normal|short|wrong-type|oversized] [--seconds N]\n";

bool Number(const char* text, uint32_t* out) {
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, 0);
    if (!end || *end || end == text) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

bool Parse(int argc, char** argv, doipsim::GatewayConfig* cfg, uint32_t* seconds) {
    using doipsim::DiscoveryAnswer;
    using doipsim::Misbehaviour;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        uint32_t n = 0;
        // Takes the option's numeric value.
        auto number = [&] {
            if (!v || !Number(v, &n)) return false;
            ++i;
            return true;
        };
        if (a == "--no-udp") cfg->udp = false;
        else if (a == "--on-diagnostic") cfg->misbehaveOnDiagnostic = true;
        else if (a == "--no-routing-required") cfg->requireRoutingActivation = false;
        else if (a == "--address" && v) cfg->address = argv[++i];
        else if (a == "--port" && number()) cfg->tcpPort = static_cast<uint16_t>(n);
        else if (a == "--udp-port" && number()) cfg->udpPort = static_cast<uint16_t>(n);
        else if (a == "--entity" && number()) cfg->logicalAddress = static_cast<uint16_t>(n);
        else if (a == "--ra-code" && number()) cfg->routingResponseCode = static_cast<uint8_t>(n);
        else if (a == "--alive-ms" && number()) cfg->aliveCheckIntervalMs = n;
        else if (a == "--seconds" && number()) *seconds = n;
        else if (a == "--misbehave" && v) {
            std::string m = argv[++i];
            if (m == "silent") cfg->misbehaviour = Misbehaviour::Silent;
            else if (m == "truncated") cfg->misbehaviour = Misbehaviour::TruncatedHeader;
            else if (m == "oversized") cfg->misbehaviour = Misbehaviour::OversizedLength;
            else if (m == "close-mid") cfg->misbehaviour = Misbehaviour::CloseMidMessage;
            else if (m == "slow") cfg->misbehaviour = Misbehaviour::SlowPeer;
            else if (m == "deaf") cfg->misbehaviour = Misbehaviour::StopsReading;
            else return false;
        } else if (a == "--discovery" && v) {
            std::string m = argv[++i];
            if (m == "normal") cfg->discoveryAnswer = DiscoveryAnswer::Normal;
            else if (m == "short") cfg->discoveryAnswer = DiscoveryAnswer::Short;
            else if (m == "wrong-type") cfg->discoveryAnswer = DiscoveryAnswer::WrongType;
            else if (m == "oversized") cfg->discoveryAnswer = DiscoveryAnswer::Oversized;
            else return false;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    doipsim::GatewayConfig cfg;
    uint32_t seconds = 0;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!Parse(argc, argv, &cfg, &seconds)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    doipsim::Gateway gateway(cfg);
    std::string error;
    if (!gateway.Start(&error)) {
        std::fprintf(stderr, "doipsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("doipsim: gateway 0x%04X on %s, TCP port %u", cfg.logicalAddress, cfg.address.c_str(),
                gateway.TcpPort());
    if (cfg.udp) std::printf(", vehicle identification on UDP port %u", cfg.udpPort);
    std::printf("\n");
    for (const vcisim::EcuConfig& e : cfg.ecus) std::printf("doipsim: ECU %s at 0x%04X\n", e.name.c_str(), e.doipAddress);
    std::fflush(stdout);
    if (seconds != 0) {
        platform::SleepMs(seconds * 1000);
    } else {
        std::printf("doipsim: press Enter to stop\n");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
    }
    gateway.Stop();
    std::printf("doipsim: %u connection(s), %u identification request(s)\n", gateway.Connections(),
                gateway.DiscoveryRequests());
    return 0;
}
