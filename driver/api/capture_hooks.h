// What the J2534 layer tells the capture, in the capture's words: a channel as an interface of
// the file, and a message handed to a channel's transport (stamped now) or taken off it (stamped then).
#pragma once

#include <cstdint>

#include "driver/api/channel.h"
#include "driver/capture/capture.h"

CaptureChannel CaptureChannelOf(const ChannelState& channel);
// A J2534 message or CAN frame of the channel; withCanId tells whether it begins with the 4-byte
// CAN id (raw CAN frames always do).
void CaptureOut(const ChannelState& channel, const uint8_t* data, uint32_t length, bool withCanId,
                CaptureSender sender);
// Taken off the transport at receivedUs (platform::MonotonicUs), the message's Timestamp.
void CaptureIn(const ChannelState& channel, const uint8_t* data, uint32_t length, bool withCanId,
               uint64_t receivedUs);
