// DoipConnect with its routing activation, and the end of a client.
#include <cstdio>

#include "driver/log/log.h"
#include "driver/doip/doip_internal.h"

namespace {

bool Fail(const std::string& tag, const std::string& text, std::string* error) {
    if (error) *error = tag + ": " + text;
    return false;
}

void CloseUnstarted(DoipClient* c) {
    platform::SocketClose(c->socket);
    delete c;
}

// Applies a successful answer's entity address (B) as the configuration asks.
void TakeEntityAddress(DoipClient* c, uint16_t a, uint16_t b, bool useRaEntity) {
    const char* tag = c->tag.c_str();
    LogPrintf("%s: RA response addresses A=0x%04x B=0x%04x", tag, a, b);
    uint16_t configured = c->targetAddress;
    if (useRaEntity) {
        c->targetAddress = b;
        LogPrintf("%s: RA updated targetAddress=0x%04x (UseRaEntityAddress=1)", tag, b);
    } else if (configured == 0x0000 || configured == 0x0001 || configured == 0xFFFF) {
        c->targetAddress = b;
        LogPrintf("%s: RA updated targetAddress=0x%04x", tag, b);
    } else if (b != configured && b != 0x0000 && b != 0xFFFF) {
        LogPrintf("%s: WARN: RA entity address 0x%04x differs from configured target 0x%04x", tag, b, configured);
    }
}

// Reads until the routing activation answer; every read is bounded by the one deadline, so a
// gateway that accepts and stays silent cannot hold the connect.
bool AwaitRoutingActivation(DoipClient* c, uint32_t timeoutMs, bool useRaEntity, std::string* text) {
    const DoipClock::time_point deadline = DoipClock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<uint8_t> payload;
    for (;;) {
        if (DoipClock::now() >= deadline) break;
        uint8_t header[kDoipHeaderSize];
        DoipRead r = DoipReadExact(c, header, sizeof header, deadline, nullptr);
        if (r == DoipRead::TimedOut) break;
        if (r != DoipRead::Ok) {
            *text = "routing activation response not received";
            return false;
        }
        DoipHeader h = ParseDoipHeader(header);
        if (h.payloadLength > kDoipMaxActivationPayload) {
            *text = "routing activation response payload too large";
            return false;
        }
        payload.resize(h.payloadLength);
        r = DoipReadExact(c, payload.data(), payload.size(), deadline, nullptr);
        if (r == DoipRead::TimedOut) break;
        if (r != DoipRead::Ok) {
            *text = "routing activation response payload read failed";
            return false;
        }
        if (h.payloadType != kDoipRoutingActivationResponse) continue;
        LogPrintf("%s: routing activation response payload=%s", c->tag.c_str(),
                  FormatHexBytes(payload.data(), payload.size(), true).c_str());
        if (payload.size() < 5) continue;
        uint8_t code = payload[4];
        LogPrintf("%s: routing activation response code=0x%02x", c->tag.c_str(), code);
        if (code != kDoipRoutingSuccess) {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "routing activation rejected (code=0x%X)", code);
            *text = buffer;
            return false;
        }
        TakeEntityAddress(c, static_cast<uint16_t>(payload[0] << 8 | payload[1]),
                          static_cast<uint16_t>(payload[2] << 8 | payload[3]), useRaEntity);
        c->routingActive = true;
        return true;
    }
    *text = "routing activation response timeout";
    return false;
}

// The configuration with its address texts cleaned, and the gateway's address found by
// discovery when none is usable.
bool ResolveTarget(DoipConfig& cfg, std::string* error) {
    const std::string& tag = cfg.tag;
    cfg.targetIp = CleanAddressText(cfg.targetIp);
    cfg.bindIp = CleanAddressText(cfg.bindIp);
    cfg.discoveryBroadcast = CleanAddressText(cfg.discoveryBroadcast);
    cfg.discoveryUnicast = CleanAddressText(cfg.discoveryUnicast);
    LogPrintf("%s: config targetIp='%s' bindIp='%s' discoveryBroadcast='%s' discoveryUnicast='%s' targetPort=%u",
              tag.c_str(), cfg.targetIp.c_str(), cfg.bindIp.c_str(), cfg.discoveryBroadcast.c_str(),
              cfg.discoveryUnicast.c_str(), static_cast<unsigned>(static_cast<uint16_t>(cfg.targetPort)));

    if (!cfg.targetIp.empty() && !platform::ParseIpv4(cfg.targetIp, nullptr)) {
        LogPrintf("%s: invalid targetIp '%s'; falling back to discovery", tag.c_str(), cfg.targetIp.c_str());
        cfg.targetIp.clear();
    }
    if (cfg.targetIp.empty() || cfg.targetIp == "255.255.255.255") {
        std::string found;
        if (!DoipDiscover(cfg, &found, error)) return false;
        cfg.targetIp = found;
    }
    LogPrintf("%s: using targetIp=%s", tag.c_str(), cfg.targetIp.c_str());
    return true;
}

// A TCP connection to the gateway, bound as configured; kInvalidSocket with *error on failure.
platform::SocketHandle ConnectSocket(const DoipConfig& cfg, std::string* error) {
    const std::string& tag = cfg.tag;
    const uint16_t port = static_cast<uint16_t>(cfg.targetPort);
    platform::SocketHandle s = platform::OpenTcpSocket();
    if (s == platform::kInvalidSocket) {
        Fail(tag, "TCP socket create failed", error);
        return platform::kInvalidSocket;
    }
    uint32_t bindAddress = 0;
    if (!cfg.bindIp.empty()) {
        if (platform::ParseIpv4(cfg.bindIp, &bindAddress)) {
            if (!platform::SocketBind(s, bindAddress, 0)) {
                platform::SocketClose(s);
                Fail(tag, "TCP bind failed", error);
                return platform::kInvalidSocket;
            }
            LogPrintf("%s: TCP bound to %s", tag.c_str(), cfg.bindIp.c_str());
        } else {
            LogPrintf("%s: invalid bindIp '%s'", tag.c_str(), cfg.bindIp.c_str());
        }
    }
    uint32_t target = 0;
    const char* failure = nullptr;
    if (!platform::ParseIpv4(cfg.targetIp, &target)) {
        failure = "invalid target IP";
    } else if (platform::SocketConnect(s, target, port, cfg.discoveryTimeoutMs) !=
               platform::ConnectResult::Connected) {
        // Bounded like discovery: an address that never answers must not hold the connect for
        // the system's own connect time-out.
        failure = "TCP connect failed";
    }
    if (failure) {
        platform::SocketClose(s);
        Fail(tag, failure, error);
        return platform::kInvalidSocket;
    }
    platform::SocketSetNoDelay(s);
    // A gateway that stops reading must not hold a host thread in send for good.
    platform::SocketSetSendTimeout(s, cfg.discoveryTimeoutMs);
    LogPrintf("%s: TCP connected to %s:%u", tag.c_str(), cfg.targetIp.c_str(), static_cast<unsigned>(port));
    return s;
}

// Routing activation as configured; false with *error (the client closed) when it fails.
bool ActivateRouting(DoipClient* c, const DoipConfig& cfg, std::string* error) {
    const std::string& tag = cfg.tag;
    if (!cfg.doRoutingActivation) {
        LogPrintf("%s: routing activation disabled (DoRoutingActivation=0)", tag.c_str());
        return true;
    }
    const uint8_t request[7] = {static_cast<uint8_t>(c->sourceAddress >> 8), static_cast<uint8_t>(c->sourceAddress),
                                c->activationType, 0, 0, 0, 0};
    LogPrintf("%s: routing activation request payload=%s", tag.c_str(),
              FormatHexBytes(request, sizeof request, true).c_str());
    std::string text = "routing activation request send failed";
    if (DoipSendMessage(c->socket, kDoipRoutingActivationRequest, request, sizeof request) &&
        AwaitRoutingActivation(c, cfg.discoveryTimeoutMs, cfg.useRaEntityAddress, &text))
        return true;
    CloseUnstarted(c);
    return Fail(tag, text, error);
}

}  // namespace

bool DoipConnect(const DoipConfig& given, DoipClient** client, std::string* error) {
    const std::string tag = DoipTag(given);
    if (!client) return Fail(tag, "invalid output channel", error);
    *client = nullptr;
    if (!platform::SocketsStart()) return Fail(tag, "WSAStartup failed", error);

    DoipConfig cfg = given;
    cfg.tag = tag;
    if (!ResolveTarget(cfg, error)) return false;
    const platform::SocketHandle s = ConnectSocket(cfg, error);
    if (s == platform::kInvalidSocket) return false;
    DoipClient* c = NewDoipClient(s, cfg, cfg.targetIp);
    if (!ActivateRouting(c, cfg, error)) return false;
    c->routingActive = true;
    c->running = true;
    c->receiveThread = std::thread(RunDoipReceiveLoop, c);
    *client = c;
    if (error) error->clear();
    return true;
}

void DoipStop(DoipClient* c) {
    if (!c) return;
    c->running = false;
    if (c->socket != platform::kInvalidSocket) platform::SocketShutdown(c->socket);
    std::lock_guard<std::mutex> lock(c->queueLock);
    c->queueSignal.notify_all();
}

void DoipClose(DoipClient* c) {
    if (!c) return;
    DoipStop(c);
    // The socket is closed only after the thread has left it, so its handle cannot be reused
    // under a read still in progress.
    if (c->receiveThread.joinable()) c->receiveThread.join();
    platform::SocketClose(c->socket);
    c->socket = platform::kInvalidSocket;
    {
        std::lock_guard<std::mutex> lock(c->queueLock);
        c->receiveQueue.clear();
    }
    delete c;
}
