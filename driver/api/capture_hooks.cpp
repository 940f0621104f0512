#include "driver/api/capture_hooks.h"

#include <string>

#include "common/protocols.h"
#include "driver/doip/doip_client.h"
#include "platform/platform.h"

namespace {
bool WithCanId(const ChannelState& channel, bool withCanId) {
    return withCanId || j2534::IsRawCanProtocol(channel.protocolId) ||
           channel.link.transport == ChannelTransport::SoftwareIsoTp;
}
}  // namespace

CaptureChannel CaptureChannelOf(const ChannelState& channel) {
    CaptureChannel c;
    c.channelId = channel.channelId;
    c.protocolId = channel.protocolId;
    c.baudRate = channel.dataRate;
    c.flags = channel.flags;
    c.softwareIsoTp = channel.link.transport == ChannelTransport::SoftwareIsoTp;
    if (const DoipClient* doip = channel.link.doip.get()) {
        c.doipAddress = doip->targetIp + ":" + std::to_string(doip->port);
        c.doipTester = doip->sourceAddress;
        c.doipEcu = doip->targetAddress;
    }
    return c;
}

void CaptureOut(const ChannelState& channel, const uint8_t* data, uint32_t length, bool withCanId,
                CaptureSender sender) {
    CaptureSent(channel.channelId, platform::MonotonicUs(), data, length, WithCanId(channel, withCanId), sender);
}

void CaptureIn(const ChannelState& channel, const uint8_t* data, uint32_t length, bool withCanId,
               uint64_t receivedUs) {
    CaptureReceived(channel.channelId, receivedUs, data, length, WithCanId(channel, withCanId));
}
