// ISO 15765 between the host's form and the link's. Hosts write a 4-byte CAN id in front of
// the diagnostic bytes (or not, or with ISO-TP PCI inside, depending on the application); the
// VCI wants the full frame or the bare payload depending on how its link was opened. This is
// where one outgoing message becomes the bytes for Dpdu_Send (or goes to software ISO-TP), and
// where a received payload gets its CAN id back. Software ISO-TP itself is in sw_isotp.h.
#pragma once

#include <cstdint>
#include <vector>

#include "common/big_endian.h"
#include "common/j2534.h"
#include "driver/api/channel.h"

// Bytes a J2534 ISO 15765 message carries after its 4-byte CAN id.
constexpr uint32_t kMaxIsoTpPayload = j2534::kMaxDataSize - 4;

// One message on its way out, in a buffer of its own: the translation may put a CAN id in
// front of it or rewrite it, and the caller's record stays the host's.
struct TxMessage {
    uint8_t buffer[4 + j2534::kMaxDataSize];
    uint32_t start = 4;  // the data begin here; a forced CAN-id prefix goes in front
    uint32_t length = 0;
    bool canIdInData = false;     // TxFlags bit 0x40, or set by the header rules
    bool headerFromHost = true;   // the first 4 bytes are the host's (no forced prefix)
    bool headerRewritten = false; // a functional 0x7DF header was replaced (DAS)

    uint8_t* data() { return buffer + start; }
    const uint8_t* data() const { return buffer + start; }
};

// Makes msg ready for length data bytes (at most kMaxDataSize) with the CAN_ID_IN_DATA
// indication of TxFlags; returns where the caller puts the data.
uint8_t* ResetTxMessage(TxMessage* msg, uint32_t length, uint32_t txFlags);

// What PrepareIso15765Tx decided for one message.
struct TxPlan {
    bool softwareIsoTp = false;  // the message (msg's data as it now stands) goes to software ISO-TP
    const uint8_t* bytes = nullptr;  // otherwise: the bytes for Dpdu_Send
    uint32_t length = 0;
    uint8_t scratch[12] = {};       // a single frame synthesised from the payload (DAS)
    std::vector<uint8_t> payload;   // the payload as the generic rules rewrote it
};

// The header rules (CAN-id assumption, forced prefix, 0x7DF rewrite, lastTxCanId and
// expectedRxId), then either the software ISO-TP route or the profile's translation, which may
// set the link's ISO 15765 ids through ComParams once. Updates the channel's transmit state.
// Returns STATUS_NOERROR or ERR_INVALID_MSG.
int32_t PrepareIso15765Tx(ChannelState& channel, TxMessage& msg, TxPlan* plan);

// A received payload of a D-PDU channel as a J2534 message: the CAN id of the response put
// back in front unless the payload already carries one. Learns expectedRxId from a received
// header. False when the DAS rule for foreign responses drops it.
bool RestoreRxCanId(ChannelState& channel, const std::vector<uint8_t>& payload, uint8_t* data,
                    uint32_t* dataSize);
