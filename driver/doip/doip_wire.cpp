// The DoIP header, whole messages out and exact reads in, and the client's small helpers.
#include <cstring>

#include "driver/config/config_values.h"
#include "driver/config/driver_config.h"
#include "driver/doip/doip_internal.h"

namespace {
// How often a reader without a deadline looks at its running flag while the socket is quiet.
constexpr uint32_t kStopCheckMs = 100;
constexpr size_t kReadBlock = 64 * 1024;

uint32_t MsUntil(DoipClock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - DoipClock::now()).count();
    if (left <= 0) return 0;
    return left > kStopCheckMs ? kStopCheckMs : static_cast<uint32_t>(left);
}

// Fills the read-ahead with what the socket has; waits in short slices so that a stop or the
// deadline is seen while the peer is silent.
DoipRead Refill(DoipClient* c, DoipClock::time_point deadline, const std::atomic<bool>* running) {
    for (;;) {
        if (running && !running->load()) return DoipRead::Stopped;
        if (DoipClock::now() >= deadline) return DoipRead::TimedOut;
        int ready = platform::SocketWaitReadable(c->socket, MsUntil(deadline));
        if (ready < 0) return DoipRead::Closed;
        if (ready == 0) continue;
        c->readAhead.resize(kReadBlock);
        c->readPos = 0;
        int n = platform::SocketReceive(c->socket, c->readAhead.data(), c->readAhead.size());
        if (n <= 0) {
            c->readAhead.clear();
            return DoipRead::Closed;
        }
        c->readAhead.resize(static_cast<size_t>(n));
        return DoipRead::Ok;
    }
}
}  // namespace

DoipHeader ParseDoipHeader(const uint8_t* b) {
    DoipHeader h;
    h.payloadType = static_cast<uint16_t>(b[2] << 8 | b[3]);
    h.payloadLength = uint32_t(b[4]) << 24 | uint32_t(b[5]) << 16 | uint32_t(b[6]) << 8 | uint32_t(b[7]);
    return h;
}

DoipRead DoipReadExact(DoipClient* c, uint8_t* out, size_t length, DoipClock::time_point deadline,
                       const std::atomic<bool>* running) {
    while (length > 0) {
        if (c->readPos >= c->readAhead.size()) {
            DoipRead r = Refill(c, deadline, running);
            if (r != DoipRead::Ok) return r;
        }
        size_t take = c->readAhead.size() - c->readPos;
        if (take > length) take = length;
        std::memcpy(out, c->readAhead.data() + c->readPos, take);
        c->readPos += take;
        out += take;
        length -= take;
    }
    return DoipRead::Ok;
}

bool DoipSendMessage(platform::SocketHandle socket, uint16_t payloadType, const uint8_t* payload, uint32_t length) {
    std::vector<uint8_t> message(kDoipHeaderSize + length);
    message[0] = 0x02;
    message[1] = 0xFD;
    message[2] = static_cast<uint8_t>(payloadType >> 8);
    message[3] = static_cast<uint8_t>(payloadType);
    message[4] = static_cast<uint8_t>(length >> 24);
    message[5] = static_cast<uint8_t>(length >> 16);
    message[6] = static_cast<uint8_t>(length >> 8);
    message[7] = static_cast<uint8_t>(length);
    if (length > 0) std::memcpy(message.data() + kDoipHeaderSize, payload, length);
    size_t sent = 0;
    while (sent < message.size()) {
        int n = platform::SocketSend(socket, message.data() + sent, message.size() - sent);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string DoipTag(const DoipConfig& config) {
    if (!config.tag.empty()) return config.tag;
    return g_config.DoIP.DirectDoIP && !g_config.DoIP.NativeDoIP ? "DirectDoIP" : "NativeDoIP";
}

std::string CleanAddressText(const std::string& text) {
    std::string s = TrimText(text);
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        s = TrimText(s.substr(1, s.size() - 2));
    return s;
}

DoipClient* NewDoipClient(platform::SocketHandle socket, const DoipConfig& config, const std::string& targetIp) {
    DoipClient* c = new DoipClient;
    c->socket = socket;
    c->targetIp = targetIp;
    c->port = static_cast<uint16_t>(config.targetPort);
    c->sourceAddress = static_cast<uint16_t>(config.sourceAddress);
    c->targetAddress = static_cast<uint16_t>(config.targetAddress);
    c->activationType = static_cast<uint8_t>(config.activationType);
    c->tag = DoipTag(config);
    return c;
}
