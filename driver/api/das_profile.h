// Profile operations that work on a channel: the DAS wake-up and the ISO 15765 response
// PASS filters.
#pragma once

#include <cstdint>

#include "driver/api/channel.h"
#include "driver/config/session_profile.h"

// Adds the driver's own PASS filter on an ISO 15765 CAN id (mask and pattern as 4 big-endian
// data bytes). Caller holds the device lock.
void AddPassFilter(ChannelContext& channel, uint32_t canId, uint32_t mask);
// PASS filters for the responses of the configured DAS id pairs (0x7E8 when none).
void InstallDasResponseFilters(ChannelContext& channel);
// Session start and tester present on a fresh DAS ISO 15765 channel, once per channel;
// moduleOpen tells whether the backend has a connected module. Sets tx.dasWakeSent.
void InjectDasWakeup(ChannelState& channel, const SessionProfile& session, bool moduleOpen);
