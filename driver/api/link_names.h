// The D-PDU logical-link name a J2534 protocol is connected on.
#pragma once

#include <cstdint>
#include <string>

#include "driver/config/session_profile.h"

// Built-in name per protocol; empty for protocols without a link.
std::string DefaultLinkName(uint32_t protocolId);
// The name from [LogicalLinkMappings] (by baud, by baud in k, then bare), else the default;
// ISO 15765 always ends on a name that says ISO 15765. Empty = unsupported. The session's
// PCMflash profile may ask for KWP2000 on CAN.
std::string LinkNameFor(uint32_t protocolId, uint32_t baudRate, const SessionProfile& session);
