// DoipSim: a simulated DoIP (ISO 13400-2) gateway for tests and demos. It answers vehicle
// identification over UDP, routing activation over TCP, and diagnostic messages with the same
// simulated UDS ECUs as VciSim; it sends alive-check requests on a timer and misbehaves on
// demand. Tests run it in-process on a loopback address; the doipsim program runs one for a user.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "vcisim/ecu_uds.h"

namespace doipsim {

using Bytes = std::vector<uint8_t>;

// Replaces the gateway's answer to the trigger message (see GatewayConfig::misbehaveOnDiagnostic).
enum class Misbehaviour {
    None,
    Silent,          // no answer, and none to anything after it
    TruncatedHeader, // five bytes of the answer's header, then the connection is closed
    OversizedLength, // a header announcing 0xFFFFFFF0 payload bytes and a few of them
    CloseMidMessage, // the header and half of the payload, then the connection is closed
    SlowPeer,        // this and every later message one byte at a time, slowByteDelayMs apart
    StopsReading,    // answers the trigger, then reads nothing more from the tester
};

// What a vehicle identification request gets back.
enum class DiscoveryAnswer {
    Normal,     // 0x0004 with VIN, logical address, EID, GID
    Short,      // four bytes
    WrongType,  // a header of payload type 0x4001
    Oversized,  // 0x0004 with 2000 payload bytes
};

struct GatewayConfig {
    std::string address = "127.0.0.1";  // TCP and UDP listen here
    uint16_t tcpPort = 13400;           // 0: a free port (TcpPort() tells which)
    bool udp = true;
    uint16_t udpPort = 13400;
    DiscoveryAnswer discoveryAnswer = DiscoveryAnswer::Normal;
    std::string vin = "WVSIM000000000001";
    // The entity's logical address: in identification answers, as address B of the activation
    // answer, and as a diagnostic target served by the first ECU.
    uint16_t logicalAddress = 0x1010;
    uint8_t eid[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    uint8_t gid[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};
    uint8_t routingResponseCode = 0x10;
    bool requireRoutingActivation = true;  // diagnostic messages before it get a negative ack
    uint32_t aliveCheckIntervalMs = 0;     // 0: no alive-check requests
    Misbehaviour misbehaviour = Misbehaviour::None;
    // false: the trigger is the routing activation request; true: the first diagnostic message.
    bool misbehaveOnDiagnostic = false;
    uint32_t slowByteDelayMs = 1;
    std::vector<vcisim::EcuConfig> ecus = {vcisim::DefaultEngineEcu(), vcisim::DefaultTransmissionEcu()};
};

class Gateway {
public:
    explicit Gateway(const GatewayConfig& config);
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // Binds and starts serving; false with *error when an address or port is taken.
    bool Start(std::string* error);
    void Stop();
    uint16_t TcpPort() const { return tcpPort_; }

    // Every DoIP message received over TCP (header and payload), oldest first.
    std::vector<Bytes> Received() const;
    // Waits until count messages of the payload type have been received; false after timeoutMs.
    bool WaitForReceived(uint16_t payloadType, size_t count, uint32_t timeoutMs) const;
    unsigned Connections() const;
    // Waits until count tester connections have been accepted; false after timeoutMs.
    bool WaitForConnections(unsigned count, uint32_t timeoutMs) const;
    unsigned DiscoveryRequests() const { return discoveryRequests_.load(); }

    // Sends to the most recent tester connection.
    bool SendRaw(const Bytes& bytes);
    bool Send(uint16_t payloadType, const Bytes& payload);
    // Closes the most recent tester connection from the gateway's side.
    void CloseConnection();

private:
    struct Connection;
    void ServeDiscovery();
    void AcceptTesters();
    void Serve(std::shared_ptr<Connection> c);
    void Handle(Connection& c, uint16_t type, const Bytes& payload);
    void Answer(Connection& c, uint16_t type, const Bytes& payload);
    void Diagnose(Connection& c, const Bytes& payload);

    GatewayConfig cfg_;
    std::vector<std::unique_ptr<vcisim::DiagnosticEcu>> ecus_;
    std::mutex ecuLock_;
    platform::SocketHandle udp_ = platform::kInvalidSocket;
    platform::SocketHandle listener_ = platform::kInvalidSocket;
    uint16_t tcpPort_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<unsigned> discoveryRequests_{0};
    std::thread udpThread_;
    std::thread acceptThread_;

    mutable std::mutex lock_;  // connections_, threads_, received_
    mutable std::condition_variable receivedSignal_;  // a message or a connection came in
    std::vector<std::shared_ptr<Connection>> connections_;
    std::vector<std::thread> threads_;
    std::vector<Bytes> received_;
};

}  // namespace doipsim
