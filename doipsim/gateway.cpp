#include "doipsim/gateway.h"

#include <chrono>

namespace doipsim {

namespace {

constexpr uint16_t kVehicleIdRequest = 0x0001;
constexpr uint16_t kVehicleIdResponse = 0x0004;
constexpr uint16_t kRoutingRequest = 0x0005;
constexpr uint16_t kRoutingResponse = 0x0006;
constexpr uint16_t kAliveCheckRequest = 0x0007;
constexpr uint16_t kAliveCheckResponse = 0x0008;
constexpr uint16_t kDiagnostic = 0x8001;
constexpr uint16_t kDiagnosticAck = 0x8002;
constexpr uint16_t kDiagnosticNack = 0x8003;
constexpr uint16_t kEntityStatusResponse = 0x4001;
constexpr uint16_t kFunctionalAddress = 0xE400;
constexpr uint8_t kNackInvalidSource = 0x02;
constexpr uint8_t kNackUnknownTarget = 0x03;
constexpr uint32_t kMaxPayload = 1u << 20;  // longer announcements end the connection
constexpr uint32_t kPollMs = 50;

using Clock = std::chrono::steady_clock;

void Put16(Bytes* b, uint16_t v) {
    b->push_back(static_cast<uint8_t>(v >> 8));
    b->push_back(static_cast<uint8_t>(v));
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

Bytes Message(uint16_t type, const Bytes& payload, uint32_t announcedLength) {
    Bytes m = {0x02, 0xFD};
    Put16(&m, type);
    Put16(&m, static_cast<uint16_t>(announcedLength >> 16));
    Put16(&m, static_cast<uint16_t>(announcedLength));
    m.insert(m.end(), payload.begin(), payload.end());
    return m;
}

Bytes Message(uint16_t type, const Bytes& payload) {
    return Message(type, payload, static_cast<uint32_t>(payload.size()));
}

bool SendAll(platform::SocketHandle s, const uint8_t* data, size_t length) {
    while (length > 0) {
        int n = platform::SocketSend(s, data, length);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

struct Gateway::Connection {
    platform::SocketHandle socket = platform::kInvalidSocket;
    std::mutex sendLock;      // socket writes, closed, and the close itself
    bool closed = false;
    std::atomic<bool> silent{false};
    std::atomic<bool> slow{false};
    bool deaf = false;        // serving thread only
    bool routed = false;      // serving thread only
    bool triggered = false;   // serving thread only
};

Gateway::Gateway(const GatewayConfig& config) : cfg_(config) {
    for (const vcisim::EcuConfig& e : cfg_.ecus) ecus_.emplace_back(new vcisim::DiagnosticEcu(e));
}

Gateway::~Gateway() { Stop(); }

bool Gateway::Start(std::string* error) {
    auto fail = [&](const std::string& text) {
        Stop();
        if (error) *error = text;
        return false;
    };
    uint32_t address = 0;
    if (!platform::SocketsStart()) return fail("sockets unavailable");
    if (!platform::ParseIpv4(cfg_.address, &address)) return fail("invalid address " + cfg_.address);
    if (cfg_.udp) {
        udp_ = platform::OpenUdpSocket();
        if (udp_ == platform::kInvalidSocket || !platform::SocketBind(udp_, address, cfg_.udpPort))
            return fail("UDP " + cfg_.address + ":" + std::to_string(cfg_.udpPort) + " unavailable");
    }
    listener_ = platform::OpenTcpSocket();
    if (listener_ == platform::kInvalidSocket || !platform::SocketBind(listener_, address, cfg_.tcpPort) ||
        !platform::SocketListen(listener_, 16) || !platform::SocketLocalAddress(listener_, nullptr, &tcpPort_))
        return fail("TCP " + cfg_.address + ":" + std::to_string(cfg_.tcpPort) + " unavailable");
    stop_ = false;
    if (cfg_.udp) udpThread_ = std::thread(&Gateway::ServeDiscovery, this);
    acceptThread_ = std::thread(&Gateway::AcceptTesters, this);
    return true;
}

void Gateway::Stop() {
    stop_ = true;
    if (udpThread_.joinable()) udpThread_.join();
    if (acceptThread_.joinable()) acceptThread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(lock_);
        for (auto& c : connections_) {
            std::lock_guard<std::mutex> send(c->sendLock);
            if (!c->closed) platform::SocketShutdown(c->socket);
        }
        threads.swap(threads_);
    }
    for (std::thread& t : threads) t.join();
    {
        std::lock_guard<std::mutex> lock(lock_);
        connections_.clear();
    }
    platform::SocketClose(udp_);
    platform::SocketClose(listener_);
    udp_ = listener_ = platform::kInvalidSocket;
    tcpPort_ = 0;
}

void Gateway::ServeDiscovery() {
    std::vector<uint8_t> buffer(65536);
    while (!stop_.load()) {
        if (platform::SocketWaitReadable(udp_, kPollMs) != 1) continue;
        uint32_t from = 0;
        uint16_t fromPort = 0;
        int n = platform::SocketReceiveFrom(udp_, buffer.data(), buffer.size(), &from, &fromPort);
        if (n < 8 || Get16(&buffer[2]) != kVehicleIdRequest) continue;
        ++discoveryRequests_;
        Bytes answer;
        switch (cfg_.discoveryAnswer) {
            case DiscoveryAnswer::Short:
                answer = {0x02, 0xFD, 0x00, 0x04};
                break;
            case DiscoveryAnswer::WrongType:
                answer = Message(kEntityStatusResponse, {});
                break;
            case DiscoveryAnswer::Oversized:
                answer = Message(kVehicleIdResponse, Bytes(2000, 0x55));
                break;
            case DiscoveryAnswer::Normal: {
                Bytes p(cfg_.vin.begin(), cfg_.vin.end());
                p.resize(17, 0);
                Put16(&p, cfg_.logicalAddress);
                p.insert(p.end(), cfg_.eid, cfg_.eid + 6);
                p.insert(p.end(), cfg_.gid, cfg_.gid + 6);
                p.push_back(0x00);  // no further action required
                answer = Message(kVehicleIdResponse, p);
                break;
            }
        }
        platform::SocketSendTo(udp_, answer.data(), answer.size(), from, fromPort);
    }
}

void Gateway::AcceptTesters() {
    while (!stop_.load()) {
        if (platform::SocketWaitReadable(listener_, kPollMs) != 1) continue;
        platform::SocketHandle s = platform::SocketAccept(listener_, nullptr, nullptr);
        if (s == platform::kInvalidSocket) continue;
        platform::SocketSetNoDelay(s);
        auto c = std::make_shared<Connection>();
        c->socket = s;
        {
            std::lock_guard<std::mutex> lock(lock_);
            connections_.push_back(c);
            threads_.emplace_back(&Gateway::Serve, this, c);
        }
        receivedSignal_.notify_all();
    }
}

void Gateway::Serve(std::shared_ptr<Connection> c) {
    Bytes pending;
    uint8_t block[4096];
    const auto interval = std::chrono::milliseconds(cfg_.aliveCheckIntervalMs);
    Clock::time_point nextAlive = Clock::now() + interval;
    bool open = true;
    auto closedHere = [&c] {
        std::lock_guard<std::mutex> send(c->sendLock);
        return c->closed;
    };
    while (open && !stop_.load() && !closedHere()) {
        uint32_t wait = kPollMs;
        if (cfg_.aliveCheckIntervalMs != 0) {
            if (Clock::now() >= nextAlive) {
                if (!c->silent.load()) Answer(*c, kAliveCheckRequest, {});
                nextAlive += interval;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nextAlive - Clock::now()).count();
            if (left < static_cast<long long>(wait)) wait = left > 0 ? static_cast<uint32_t>(left) : 0;
        }
        if (c->deaf) {
            platform::SleepMs(wait);
            continue;
        }
        int ready = platform::SocketWaitReadable(c->socket, wait);
        if (ready < 0) break;
        if (ready == 0) continue;
        int n = platform::SocketReceive(c->socket, block, sizeof block);
        if (n <= 0) break;
        pending.insert(pending.end(), block, block + n);
        while (open && !c->deaf && pending.size() >= 8) {
            uint32_t length = Get32(&pending[4]);
            if (length > kMaxPayload) {
                open = false;
                break;
            }
            if (pending.size() < 8 + size_t(length)) break;
            Bytes raw(pending.begin(), pending.begin() + 8 + length);
            pending.erase(pending.begin(), pending.begin() + 8 + length);
            {
                std::lock_guard<std::mutex> lock(lock_);
                received_.push_back(raw);
            }
            receivedSignal_.notify_all();
            Handle(*c, Get16(&raw[2]), Bytes(raw.begin() + 8, raw.end()));
            open = !closedHere();
        }
    }
    std::lock_guard<std::mutex> send(c->sendLock);
    if (!c->closed) platform::SocketShutdown(c->socket);
    c->closed = true;
    platform::SocketClose(c->socket);
    c->socket = platform::kInvalidSocket;
}

void Gateway::Handle(Connection& c, uint16_t type, const Bytes& payload) {
    const bool trigger = !c.triggered && type == (cfg_.misbehaveOnDiagnostic ? kDiagnostic : kRoutingRequest);
    if (trigger && cfg_.misbehaviour != Misbehaviour::None) {
        c.triggered = true;
        const uint16_t answerType = type == kRoutingRequest ? kRoutingResponse : kDiagnostic;
        const Bytes body = {0x0E, 0x80, 0x10, 0x10, 0x10, 0x00, 0x00, 0x00, 0x00, 0x62, 0xF1, 0x90};
        std::lock_guard<std::mutex> send(c.sendLock);
        switch (cfg_.misbehaviour) {
            case Misbehaviour::Silent:
                c.silent = true;
                return;
            case Misbehaviour::SlowPeer:
                c.slow = true;
                break;
            case Misbehaviour::StopsReading:
                c.deaf = true;
                break;
            case Misbehaviour::TruncatedHeader: {
                Bytes m = Message(answerType, body);
                SendAll(c.socket, m.data(), 5);
                platform::SocketShutdown(c.socket);
                c.closed = true;
                return;
            }
            case Misbehaviour::OversizedLength: {
                Bytes m = Message(answerType, {0x0E, 0x80, 0x10, 0x10}, 0xFFFFFFF0u);
                SendAll(c.socket, m.data(), m.size());
                return;
            }
            case Misbehaviour::CloseMidMessage: {
                Bytes m = Message(answerType, body);
                SendAll(c.socket, m.data(), 8 + body.size() / 2);
                platform::SocketShutdown(c.socket);
                c.closed = true;
                return;
            }
            case Misbehaviour::None:
                break;
        }
    }
    if (c.silent.load()) return;
    switch (type) {
        case kRoutingRequest: {
            if (payload.size() < 7) return;
            Bytes answer;
            Put16(&answer, Get16(&payload[0]));
            Put16(&answer, cfg_.logicalAddress);
            answer.push_back(cfg_.routingResponseCode);
            answer.insert(answer.end(), 4, 0x00);
            if (cfg_.routingResponseCode == 0x10) c.routed = true;
            Answer(c, kRoutingResponse, answer);
            return;
        }
        case kAliveCheckRequest: {
            Bytes answer;
            Put16(&answer, cfg_.logicalAddress);
            Answer(c, kAliveCheckResponse, answer);
            return;
        }
        case kDiagnostic:
            Diagnose(c, payload);
            return;
        default:
            return;
    }
}

void Gateway::Diagnose(Connection& c, const Bytes& payload) {
    if (payload.size() < 4) return;
    const uint16_t source = Get16(&payload[0]);
    const uint16_t target = Get16(&payload[2]);
    const Bytes request(payload.begin() + 4, payload.end());
    auto reply = [&](uint16_t type, uint16_t from, uint8_t code) {
        Bytes b;
        Put16(&b, from);
        Put16(&b, source);
        b.push_back(code);
        Answer(c, type, b);
    };
    if (cfg_.requireRoutingActivation && !c.routed) return reply(kDiagnosticNack, target, kNackInvalidSource);
    const bool functional = target == kFunctionalAddress;
    std::vector<vcisim::DiagnosticEcu*> ecus;
    for (auto& e : ecus_) {
        bool own = target == cfg_.logicalAddress && e == ecus_.front();
        if (functional || own || e->Config().doipAddress == target) ecus.push_back(e.get());
    }
    if (ecus.empty()) return reply(kDiagnosticNack, target, kNackUnknownTarget);
    reply(kDiagnosticAck, target, 0x00);
    for (vcisim::DiagnosticEcu* e : ecus) {
        std::vector<vcisim::EcuAnswer> answers;
        {
            std::lock_guard<std::mutex> lock(ecuLock_);
            answers = e->HandleUds(request, functional);
        }
        uint64_t doneUs = 0;
        for (const vcisim::EcuAnswer& a : answers) {
            if (a.delayUs > doneUs) platform::SleepPreciseUs(static_cast<uint32_t>(a.delayUs - doneUs));
            doneUs = a.delayUs;
            Bytes b;
            Put16(&b, functional ? e->Config().doipAddress : target);
            Put16(&b, source);
            b.insert(b.end(), a.payload.begin(), a.payload.end());
            Answer(c, kDiagnostic, b);
        }
    }
}

void Gateway::Answer(Connection& c, uint16_t type, const Bytes& payload) {
    const Bytes m = Message(type, payload);
    std::lock_guard<std::mutex> send(c.sendLock);
    if (c.closed) return;
    if (!c.slow.load()) {
        SendAll(c.socket, m.data(), m.size());
        return;
    }
    for (uint8_t byte : m) {
        if (!SendAll(c.socket, &byte, 1)) return;
        platform::SleepMs(cfg_.slowByteDelayMs);
    }
}

std::vector<Bytes> Gateway::Received() const {
    std::lock_guard<std::mutex> lock(lock_);
    return received_;
}

bool Gateway::WaitForReceived(uint16_t payloadType, size_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(lock_);
    return receivedSignal_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        size_t n = 0;
        for (const Bytes& m : received_)
            if (Get16(&m[2]) == payloadType) ++n;
        return n >= count;
    });
}

unsigned Gateway::Connections() const {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<unsigned>(connections_.size());
}

bool Gateway::WaitForConnections(unsigned count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(lock_);
    return receivedSignal_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return connections_.size() >= count; });
}

bool Gateway::SendRaw(const Bytes& bytes) {
    std::shared_ptr<Connection> c;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (connections_.empty()) return false;
        c = connections_.back();
    }
    std::lock_guard<std::mutex> send(c->sendLock);
    return !c->closed && SendAll(c->socket, bytes.data(), bytes.size());
}

bool Gateway::Send(uint16_t payloadType, const Bytes& payload) { return SendRaw(Message(payloadType, payload)); }

void Gateway::CloseConnection() {
    std::shared_ptr<Connection> c;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (connections_.empty()) return;
        c = connections_.back();
    }
    std::lock_guard<std::mutex> send(c->sendLock);
    if (!c->closed) platform::SocketShutdown(c->socket);
    c->closed = true;
}

}  // namespace doipsim
