// The driver's own DoIP (ISO 13400-2) client, for diagnostics over IP without the VCI: it finds
// a gateway by UDP vehicle identification unless an address is configured, connects over TCP,
// activates routing and then carries UDS data in diagnostic messages. The J2534 layer makes one
// client per DoIP channel; a thread per client receives and queues what the gateway sends.
// Failures give a text that starts with the client's tag ("NativeDoIP: ..." or "DirectDoIP: ...").
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

// What one connect needs, filled from the [DoIP] keys by the connect path.
struct DoipConfig {
    std::string targetIp;            // empty or "255.255.255.255": discover the gateway first
    std::string bindIp;              // local address to bind; empty = any
    std::string discoveryBroadcast;  // empty = 255.255.255.255
    std::string discoveryUnicast;    // empty = no unicast request
    // Bounds discovery, the TCP connect, the wait for the routing activation answer, and each
    // send to a gateway that stops reading.
    uint32_t discoveryTimeoutMs = 2000;
    uint32_t targetPort = 13400;        // TCP port; discovery always uses 13400
    uint32_t sourceAddress = 0x0E80;    // tester's logical address
    uint32_t targetAddress = 0x0E00;    // DoIP entity's logical address
    uint32_t activationType = 0;        // routing activation type
    bool doRoutingActivation = true;
    bool useRaEntityAddress = false;    // take the entity address from the activation answer
    std::string tag;                    // "NativeDoIP" or "DirectDoIP"; empty = from the configuration
};

// The receive queue keeps at most this many messages and bytes; beyond either the oldest
// messages are dropped (logged once per connection). A host that reads never gets near them.
constexpr size_t kDoipQueueMaxMessages = 4096;
constexpr size_t kDoipQueueMaxBytes = 16u * 1024u * 1024u;

// One connected client. Reading the socket belongs to DoipConnect until it returns, then to
// the receive thread alone.
struct DoipClient {
    platform::SocketHandle socket = platform::kInvalidSocket;
    std::string targetIp;
    uint16_t port = 0;
    uint16_t sourceAddress = 0;
    uint16_t targetAddress = 0;  // may have been replaced by the activation answer
    uint8_t activationType = 0;
    std::string tag;
    std::atomic<bool> running{false};        // the receive thread runs and the connection stands
    std::atomic<bool> routingActive{false};  // diagnostic messages may be sent

    std::thread receiveThread;
    std::mutex queueLock;
    std::condition_variable queueSignal;
    struct Received {
        std::vector<uint8_t> data;
        uint64_t receivedUs;  // when the receive thread took it off the socket, on platform::MonotonicUs
    };
    std::deque<Received> receiveQueue;  // user data, oldest first
    size_t queuedBytes = 0;
    bool queueLimitLogged = false;

    std::mutex sendLock;  // one writer on the socket at a time: host sends and alive-check answers
    unsigned txDiagLogCount = 0;  // under sendLock
    unsigned rxDiagLogCount = 0;  // receive thread only
    unsigned rxOtherLogCount = 0;

    std::vector<uint8_t> readAhead;  // bytes received but not consumed yet
    size_t readPos = 0;
};

// Discovers (when needed), connects, activates routing and starts the receive thread. On
// success *client owns all of it until DoipClose; on failure nothing is left behind.
bool DoipConnect(const DoipConfig& config, DoipClient** client, std::string* error);
// One vehicle identification round: the address of the first gateway that answers.
bool DoipDiscover(const DoipConfig& config, std::string* address, std::string* error);

// Sends data as one diagnostic message to the client's target address; returns once the bytes
// are handed to the socket (acknowledgements are not awaited). A failed send ends the
// connection: part of a message may have gone out.
bool DoipSendDiagnostic(DoipClient* client, const uint8_t* data, uint32_t length, std::string* error);
// Takes the oldest received user data (and, when asked, the time it arrived), waiting up to
// timeoutMs. After the connection has ended the queue is still drained, then Closed
// ("connection closed") is reported. Every outcome but Message sets *error.
enum class DoipRx { Message, TimedOut, Closed, NotConnected };
DoipRx DoipReceive(DoipClient* client, uint32_t timeoutMs, std::vector<uint8_t>* data, std::string* error,
                   uint64_t* receivedUs = nullptr);

// Ends the connection now: waiting readers wake, later sends fail, the receive thread stops.
// The client stays valid (for threads still holding it) until DoipClose.
void DoipStop(DoipClient* client);
// Stops and frees the client; null is ignored. Not from the client's own receive thread, and
// only when no other thread still uses the client.
void DoipClose(DoipClient* client);

// One whole DoIP message (header and payload) in one buffer, sent until every byte is out.
bool DoipSendMessage(platform::SocketHandle socket, uint16_t payloadType, const uint8_t* payload, uint32_t length);
