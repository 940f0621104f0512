// Untrusted DoIP input for the driver's client: the first byte chooses what the rest is.
// Odd: a TCP byte stream for the receive loop (framing, lengths, every payload type, the
// queue). Even: one datagram answering the vehicle identification request of DoipDiscover,
// sent by a responder on 127.0.0.77 (loopback only).
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/config/driver_config.h"
#include "driver/doip/doip_internal.h"
#include "platform/platform.h"

namespace {

const char kResponderAddress[] = "127.0.0.77";

uint32_t Loopback(const char* text) {
    uint32_t address = 0;
    platform::ParseIpv4(text, &address);
    return address;
}

// A TCP socket whose peer has closed: the receive loop reads what it is given, then the end.
platform::SocketHandle EndedSocket() {
    static platform::SocketHandle ended = [] {
        platform::SocketsStart();
        platform::SocketHandle listener = platform::OpenTcpSocket();
        uint16_t port = 0;
        platform::SocketBind(listener, Loopback("127.0.0.1"), 0);
        platform::SocketListen(listener, 1);
        platform::SocketLocalAddress(listener, nullptr, &port);
        platform::SocketHandle s = platform::OpenTcpSocket();
        platform::SocketConnect(s, Loopback("127.0.0.1"), port, 2000);
        platform::SocketClose(platform::SocketAccept(listener, nullptr, nullptr));
        platform::SocketClose(listener);
        return s;
    }();
    return ended;
}

void FuzzStream(const uint8_t* data, size_t size) {
    DoipConfig cfg;
    DoipClient* c = NewDoipClient(EndedSocket(), cfg, "127.0.0.1");
    c->readAhead.assign(data, data + size);
    c->running = true;
    RunDoipReceiveLoop(c);
    std::vector<uint8_t> out;
    std::string error;
    while (DoipReceive(c, 0, &out, &error) == DoipRx::Message) {
    }
    delete c;  // the socket is shared by every run
}

// Answers each vehicle identification request with the datagram of the current run.
struct Responder {
    std::mutex lock;
    std::vector<uint8_t> answer;
    platform::SocketHandle socket = platform::kInvalidSocket;

    Responder() {
        platform::SocketsStart();
        socket = platform::OpenUdpSocket();
        if (!platform::SocketBind(socket, Loopback(kResponderAddress), 13400)) std::abort();
        std::thread([this] { Serve(); }).detach();
    }

    void Serve() {
        std::vector<uint8_t> request(512);
        for (;;) {
            uint32_t from = 0;
            uint16_t port = 0;
            if (platform::SocketReceiveFrom(socket, request.data(), request.size(), &from, &port) < 0) continue;
            std::lock_guard<std::mutex> guard(lock);
            platform::SocketSendTo(socket, answer.data(), answer.size(), from, port);
        }
    }
};

void FuzzDatagram(const uint8_t* data, size_t size) {
    static Responder* responder = new Responder;
    {
        std::lock_guard<std::mutex> guard(responder->lock);
        responder->answer.assign(data, data + size);
    }
    DoipConfig cfg;
    cfg.discoveryUnicast = kResponderAddress;
    cfg.discoveryBroadcast = "none";  // not an address: only the unicast request goes out
    cfg.discoveryTimeoutMs = 1000;
    std::string address, error;
    DoipDiscover(cfg, &address, &error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1)
        FuzzStream(data + 1, size - 1);
    else
        FuzzDatagram(data + 1, size - 1);
    return 0;
}
