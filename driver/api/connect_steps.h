// Steps of PassThruConnect shared by its files: the profile of one connect call, and the DoIP
// roads.
#pragma once

#include <cstdint>

#include "driver/api/channel.h"
#include "driver/config/session_profile.h"

// The transport overrides the session's profile asks of one connect call.
struct ConnectProfile {
    bool pcm = false;
    bool das = false;
    bool rawCan = false;
    bool forceIsoTp = false;
    bool kwpOnCan = false;
};
ConnectProfile ProfileForThisCall(const SessionProfile& session);

// Caller holds g_deviceLock. Appends the finished channel to the device and hands its id out.
void AppendChannel(ChannelContext& channel, j2534::ULONG* pChannelID);

// Caller holds g_deviceLock. The DoIP roads (NoEcu, DirectDoIP, NativeDoIP). True when the
// connect ends here with *rc; false to go on with the VCI's DoIP link.
bool ConnectDoip(ChannelContext& channel, j2534::ULONG* pChannelID, int32_t* rc);
