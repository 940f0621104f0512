// Pieces the DoIP client's files share: the wire format, reading whole messages from the
// client's stream, the tag and the cleaning of address texts.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/doip/doip_client.h"

constexpr uint16_t kDoipVehicleIdRequest = 0x0001;
constexpr uint16_t kDoipVehicleIdResponse = 0x0004;
constexpr uint16_t kDoipRoutingActivationRequest = 0x0005;
constexpr uint16_t kDoipRoutingActivationResponse = 0x0006;
constexpr uint16_t kDoipAliveCheckRequest = 0x0007;
constexpr uint16_t kDoipAliveCheckResponse = 0x0008;
constexpr uint16_t kDoipDiagnosticMessage = 0x8001;
constexpr uint16_t kDoipDiagnosticAck = 0x8002;
constexpr uint16_t kDoipDiagnosticNack = 0x8003;

constexpr size_t kDoipHeaderSize = 8;
constexpr uint16_t kDoipDiscoveryPort = 13400;
constexpr uint32_t kDoipMaxPayload = 1000000;           // on an established connection
constexpr uint32_t kDoipMaxActivationPayload = 4096;    // while waiting for routing activation
constexpr uint8_t kDoipRoutingSuccess = 0x10;

struct DoipHeader {
    uint16_t payloadType = 0;
    uint32_t payloadLength = 0;
};
// The version bytes are not checked: headers are taken as they come.
DoipHeader ParseDoipHeader(const uint8_t* bytes);

using DoipClock = std::chrono::steady_clock;

enum class DoipRead { Ok, Closed, TimedOut, Stopped };
// Reads exactly length bytes of the client's stream into out. Stops at the deadline, or when
// running (if given) turns false.
DoipRead DoipReadExact(DoipClient* client, uint8_t* out, size_t length, DoipClock::time_point deadline,
                       const std::atomic<bool>* running);

// The tag of the config, or from the configuration when the config names none.
std::string DoipTag(const DoipConfig& config);
// Trims blanks and one pair of matching quotes around an address text.
std::string CleanAddressText(const std::string& text);

// A client around a connected TCP socket, not yet running.
DoipClient* NewDoipClient(platform::SocketHandle socket, const DoipConfig& config, const std::string& targetIp);
// The receive thread's loop; returns when the connection ends or the client is stopped.
void RunDoipReceiveLoop(DoipClient* client);
