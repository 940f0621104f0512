// Traffic of a connected client: the receive loop that queues diagnostic data and answers
// alive checks, and the host side's send and receive.
#include <algorithm>

#include "driver/log/log.h"
#include "driver/doip/doip_internal.h"

namespace {

constexpr unsigned kDiagLogLimit = 5;
constexpr unsigned kOtherLogLimit = 3;

bool Fail(const DoipClient* c, const char* text, std::string* error) {
    if (error) *error = (c ? c->tag : DoipTag(DoipConfig())) + ": " + text;
    return false;
}

// Appends to the queue; beyond its bound the oldest messages go, which is logged once.
void Enqueue(DoipClient* c, std::vector<uint8_t> data, uint64_t receivedUs) {
    bool firstDrop = false;
    {
        std::lock_guard<std::mutex> lock(c->queueLock);
        c->queuedBytes += data.size();
        c->receiveQueue.push_back({std::move(data), receivedUs});
        while (c->receiveQueue.size() > kDoipQueueMaxMessages || c->queuedBytes > kDoipQueueMaxBytes) {
            c->queuedBytes -= c->receiveQueue.front().data.size();
            c->receiveQueue.pop_front();
            if (!c->queueLimitLogged) firstDrop = c->queueLimitLogged = true;
        }
    }
    c->queueSignal.notify_one();
    if (firstDrop)
        LogPrintf("%s: receive queue full (%u messages or %u bytes); dropping the oldest messages", c->tag.c_str(),
                  static_cast<unsigned>(kDoipQueueMaxMessages), static_cast<unsigned>(kDoipQueueMaxBytes));
}

bool LogOther(DoipClient* c) {
    if (c->rxOtherLogCount >= kOtherLogLimit) return false;
    ++c->rxOtherLogCount;
    return true;
}

// False when the connection can no longer be used.
bool HandleMessage(DoipClient* c, uint16_t type, const std::vector<uint8_t>& payload) {
    const char* tag = c->tag.c_str();
    switch (type) {
        case kDoipDiagnosticMessage: {
            if (payload.size() < 4) return true;
            std::vector<uint8_t> data(payload.begin() + 4, payload.end());
            if (c->rxDiagLogCount < kDiagLogLimit) {
                ++c->rxDiagLogCount;
                LogPrintf("%s: rx diag #%u size=%u data=%s", tag, c->rxDiagLogCount, static_cast<unsigned>(data.size()),
                          FormatHexBytes(data.data(), data.size(), true).c_str());
            }
            Enqueue(c, std::move(data), platform::MonotonicUs());
            return true;
        }
        case kDoipRoutingActivationResponse:
            if (payload.size() >= 5 && payload[4] == kDoipRoutingSuccess) c->routingActive = true;
            if (LogOther(c))
                LogPrintf("%s: rx routing activation response payload=%s", tag,
                          FormatHexBytes(payload.data(), payload.size(), true).c_str());
            return true;
        case kDoipAliveCheckRequest: {
            const uint8_t source[2] = {static_cast<uint8_t>(c->sourceAddress >> 8),
                                       static_cast<uint8_t>(c->sourceAddress)};
            std::lock_guard<std::mutex> lock(c->sendLock);
            return DoipSendMessage(c->socket, kDoipAliveCheckResponse, source, sizeof source);
        }
        case kDoipDiagnosticAck:
        case kDoipDiagnosticNack:
            if (LogOther(c))
                LogPrintf("%s: rx ack payloadType=0x%04x payload=%s", tag, type,
                          FormatHexBytes(payload.data(), payload.size(), true).c_str());
            return true;
        default:
            if (LogOther(c))
                LogPrintf("%s: rx payloadType=0x%04x len=%u", tag, type, static_cast<unsigned>(payload.size()));
            return true;
    }
}

}  // namespace

void RunDoipReceiveLoop(DoipClient* c) {
    const DoipClock::time_point never = DoipClock::time_point::max();
    std::vector<uint8_t> payload;
    while (c->running.load()) {
        uint8_t header[kDoipHeaderSize];
        if (DoipReadExact(c, header, sizeof header, never, &c->running) != DoipRead::Ok) break;
        DoipHeader h = ParseDoipHeader(header);
        if (h.payloadLength > kDoipMaxPayload) break;
        payload.resize(h.payloadLength);
        if (DoipReadExact(c, payload.data(), payload.size(), never, &c->running) != DoipRead::Ok) break;
        if (!HandleMessage(c, h.payloadType, payload)) break;
    }
    // A broken stream stays broken: the peer sees the end and later sends fail.
    platform::SocketShutdown(c->socket);
    c->running = false;
    std::lock_guard<std::mutex> lock(c->queueLock);
    c->queueSignal.notify_all();
}

bool DoipSendDiagnostic(DoipClient* c, const uint8_t* data, uint32_t length, std::string* error) {
    if (!c || c->socket == platform::kInvalidSocket) return Fail(c, "channel not initialized", error);
    if (!c->routingActive.load()) return Fail(c, "routing not active", error);
    if (!data || length == 0) return Fail(c, "no data", error);
    if (!c->running.load()) return Fail(c, "TCP send failed", error);
    std::vector<uint8_t> payload(4 + static_cast<size_t>(length));
    payload[0] = static_cast<uint8_t>(c->sourceAddress >> 8);
    payload[1] = static_cast<uint8_t>(c->sourceAddress);
    payload[2] = static_cast<uint8_t>(c->targetAddress >> 8);
    payload[3] = static_cast<uint8_t>(c->targetAddress);
    std::copy(data, data + length, payload.begin() + 4);
    std::lock_guard<std::mutex> lock(c->sendLock);
    if (c->txDiagLogCount < kDiagLogLimit) {
        ++c->txDiagLogCount;
        LogPrintf("%s: tx diag #%u size=%u data=%s", c->tag.c_str(), c->txDiagLogCount, static_cast<unsigned>(length),
                  FormatHexBytes(data, length, true).c_str());
    }
    if (!DoipSendMessage(c->socket, kDoipDiagnosticMessage, payload.data(), static_cast<uint32_t>(payload.size()))) {
        DoipStop(c);
        return Fail(c, "TCP send failed", error);
    }
    if (error) error->clear();
    return true;
}

DoipRx DoipReceive(DoipClient* c, uint32_t timeoutMs, std::vector<uint8_t>* data, std::string* error,
                   uint64_t* receivedUs) {
    if (!c) {
        Fail(c, "channel not initialized", error);
        return DoipRx::NotConnected;
    }
    std::unique_lock<std::mutex> lock(c->queueLock);
    c->queueSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [c] { return !c->receiveQueue.empty() || !c->running.load(); });
    if (!c->receiveQueue.empty()) {
        c->queuedBytes -= c->receiveQueue.front().data.size();
        if (data) *data = std::move(c->receiveQueue.front().data);
        if (receivedUs) *receivedUs = c->receiveQueue.front().receivedUs;
        c->receiveQueue.pop_front();
        lock.unlock();
        if (error) error->clear();
        return DoipRx::Message;
    }
    const bool running = c->running.load();
    Fail(c, running ? "timeout" : "connection closed", error);
    return running ? DoipRx::TimedOut : DoipRx::Closed;
}
