// One connected J2534 channel.
#pragma once

#include <cstdint>

struct ChannelContext {
    uint32_t channelId = 0;
    uint32_t protocolId = 0;
    uint32_t flags = 0;
    uint32_t dataRate = 0;
};
