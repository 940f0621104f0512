// Vehicle identification over UDP: one request to the unicast and one to the broadcast
// address, the first answer names the gateway.
#include "driver/log/log.h"
#include "driver/doip/doip_internal.h"

namespace {
// The whole answer a gateway may send fits; anything longer is cut by the receive.
constexpr size_t kDatagramBuffer = 512;

bool SendRequest(platform::SocketHandle s, const std::string& address) {
    uint32_t to = 0;
    if (!platform::ParseIpv4(address, &to)) return false;
    const uint8_t request[kDoipHeaderSize] = {0x02, 0xFD, 0x00, 0x01, 0, 0, 0, 0};
    return platform::SocketSendTo(s, request, sizeof request, to, kDoipDiscoveryPort) ==
           static_cast<int>(sizeof request);
}
}  // namespace

bool DoipDiscover(const DoipConfig& config, std::string* address, std::string* error) {
    const std::string tag = DoipTag(config);
    auto fail = [&](platform::SocketHandle s, const char* text) {
        platform::SocketClose(s);
        if (error) *error = tag + ": " + text;
        return false;
    };
    if (!platform::SocketsStart()) return fail(platform::kInvalidSocket, "WSAStartup failed");
    platform::SocketHandle s = platform::OpenUdpSocket();
    if (s == platform::kInvalidSocket) return fail(s, "UDP socket create failed");
    uint32_t bindAddress = 0;
    if (!platform::ParseIpv4(config.bindIp, &bindAddress)) bindAddress = 0;
    if (!platform::SocketBind(s, bindAddress, 0)) return fail(s, "UDP bind failed");

    if (!config.discoveryUnicast.empty())
        LogPrintf("%s: discovery unicast -> %s", tag.c_str(), config.discoveryUnicast.c_str());
    if (!config.discoveryBroadcast.empty())
        LogPrintf("%s: discovery broadcast -> %s", tag.c_str(), config.discoveryBroadcast.c_str());
    bool sent = SendRequest(s, config.discoveryUnicast);
    const std::string& broadcast = config.discoveryBroadcast.empty() ? "255.255.255.255" : config.discoveryBroadcast;
    if (SendRequest(s, broadcast)) sent = true;
    if (!sent) return fail(s, "discovery send failed");

    if (platform::SocketWaitReadable(s, config.discoveryTimeoutMs) != 1) return fail(s, "discovery timeout");
    uint8_t buffer[kDatagramBuffer];
    uint32_t from = 0;
    int n = platform::SocketReceiveFrom(s, buffer, sizeof buffer, &from, nullptr);
    platform::SocketClose(s);
    if (n < static_cast<int>(kDoipHeaderSize)) return fail(platform::kInvalidSocket, "discovery response too short");
    if (ParseDoipHeader(buffer).payloadType != kDoipVehicleIdResponse)
        return fail(platform::kInvalidSocket, "unexpected discovery response");
    const std::string found = platform::FormatIpv4(from);
    LogPrintf("%s: discovery response from %s", tag.c_str(), found.c_str());
    if (address) *address = found;
    if (error) error->clear();
    return true;
}
