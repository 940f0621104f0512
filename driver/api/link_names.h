// The D-PDU logical-link name a J2534 protocol is connected on.
#pragma once

#include <cstdint>
#include <string>

// Built-in name per protocol; empty for protocols without a link.
std::string DefaultLinkName(uint32_t protocolId);
// The name from [LogicalLinkMappings] (by baud, by baud in k, then bare), else the default;
// ISO 15765 always ends on a name that says ISO 15765. Empty = unsupported.
std::string LinkNameFor(uint32_t protocolId, uint32_t baudRate);
