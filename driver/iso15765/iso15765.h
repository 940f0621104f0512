// ISO 15765 between the host's form and the link's. Hosts write a 4-byte CAN id in front of
// the diagnostic bytes (or not, or with ISO-TP PCI inside, depending on the application); the
// VCI wants the full frame or the bare payload depending on how its link was opened. This is
// where one outgoing message becomes the bytes for the VCI (or goes to software ISO-TP), and
// where a received payload gets its CAN id back. Nothing here talks to the VCI: when the VCI
// must be given the link's CAN ids, the translation says so and the caller does it. Software
// ISO-TP itself is in sw_isotp.h.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "common/j2534.h"

struct DriverConfig;
struct SessionProfile;

// Bytes a J2534 ISO 15765 message carries after its 4-byte CAN id.
constexpr uint32_t kMaxIsoTpPayload = j2534::kMaxDataSize - 4;

// What the translation needs to know of a channel, fixed when it was connected.
struct Iso15765Link {
    uint32_t protocolId = 0;
    bool rawMode = false;        // the VCI's link takes and gives whole frames (CP_RawMode)
    bool softwareIsoTp = false;  // the driver segments the messages itself on a raw CAN link
    bool canIdInDataFallback = false;
    bool kwpOnCan = false;
};

// What the translation keeps between the messages of a channel: the CAN ids it has seen and
// whether the VCI has been given the link's ids. The write path works on a copy and puts the
// whole record back.
struct Iso15765TxState {
    uint32_t lastTxCanId = 0;
    uint32_t expectedRxId = 0;  // the response id that received payloads get in front
    bool comParamsEnabled = false;
    bool comParamsTried = false;
    bool isoTpIdsSet = false;
    uint32_t isoTpTxId = 0;
    uint32_t isoTpRxId = 0;

    bool operator==(const Iso15765TxState& o) const {
        return lastTxCanId == o.lastTxCanId && expectedRxId == o.expectedRxId &&
               comParamsEnabled == o.comParamsEnabled && comParamsTried == o.comParamsTried &&
               isoTpIdsSet == o.isoTpIdsSet && isoTpTxId == o.isoTpTxId && isoTpRxId == o.isoTpRxId;
    }
    bool operator!=(const Iso15765TxState& o) const { return !(*this == o); }
};

// The rules of the session for one call: the host profile, the OEM family and the ISO 15765
// keys of the configuration.
struct Iso15765Rules {
    bool das = false;
    bool xentry = false;
    bool vwOdis = false;
    bool pcmflash = false;  // PCMflash compatibility in force
    bool pcmflashForceRawCan = false;
    bool pcmflashForceIsoTp = false;
    bool udsApduOnly = false;
    bool assumeCanIdPrefix = true;
    bool rewriteFunctional7DF = true;
    bool dasKeepFullFrame = false;  // [DAS] DisablePayloadOnlyFallback
    bool dasDropOtherRx = false;
    const std::vector<std::pair<uint32_t, uint32_t>>* idPairs = nullptr;  // [DAS] Pairs (tx, rx)
    uint32_t firstTxId = 0x7E0;  // of the pairs, or 0x7E0 / 0x7E8 without any
    uint32_t firstRxId = 0x7E8;
};
Iso15765Rules Iso15765RulesFor(const DriverConfig& config, const SessionProfile& session);
// XENTRY profile: implausible transmit and receive identifiers become the first pair's.
void FixXentryIso15765Ids(const Iso15765Rules& rules, uint32_t& txId, uint32_t& rxId);

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

// What the translation decided for one message.
struct TxPlan {
    bool softwareIsoTp = false;  // the message (msg's data as it now stands) goes to software ISO-TP
    const uint8_t* bytes = nullptr;  // otherwise: the bytes for the VCI (inside msg or scratch)
    uint32_t length = 0;
    uint8_t scratch[12] = {};  // a single frame synthesised from the payload (DAS)
    // The VCI is to be given these ids now (CP_CanPhysReqId and the response id); the caller
    // does so and hands the outcome to CompleteIso15765Tx, which finishes the plan.
    bool setIds = false;
    uint32_t idsTx = 0;
    uint32_t idsRx = 0;
    enum class Rules : uint8_t { Generic, Das } resumeWith = Rules::Generic;
    bool comParamsUsable = false;  // as it was when the plan was made
};

// The header rules (CAN-id assumption, forced prefix, 0x7DF rewrite, lastTxCanId and
// expectedRxId), then either the software ISO-TP route or the profile's translation. Returns
// STATUS_NOERROR or ERR_INVALID_MSG; with plan->setIds the plan is not finished yet.
int32_t PrepareIso15765Tx(const Iso15765Link& link, Iso15765TxState& state, const Iso15765Rules& rules,
                          TxMessage& msg, TxPlan* plan);
// The rest of a plan that asked for the ids: idsAccepted tells whether the VCI took both.
int32_t CompleteIso15765Tx(bool idsAccepted, Iso15765TxState& state, const Iso15765Rules& rules, TxMessage& msg,
                           TxPlan* plan);

// A received payload of a VCI channel as a J2534 message: the CAN id of the response put back
// in front unless the payload already carries one. Learns expectedRxId from a received header.
// False when the DAS rule for foreign responses drops it.
bool RestoreRxCanId(const Iso15765Link& link, Iso15765TxState& state, const Iso15765Rules& rules,
                    const uint8_t* payload, size_t length, uint8_t* data, uint32_t* dataSize);

// PCMflash writes a CAN id behind the PCI of single and first frames; the ECU must not see it.
// Strips it from bytes[0, *length) in place (shortening *length, or lengthening a single frame
// whose new length announces more than is there, with zeros). What was done, for the caller's
// log line; none when the bytes carry no such id.
struct PcmflashStrip {
    enum class Kind : uint8_t { None, SingleFrame, FirstFrame } kind = Kind::None;
    unsigned before = 0;  // single frame: old and new length; first frame: new total in after
    unsigned after = 0;
};
PcmflashStrip StripPcmflashCanId(uint8_t* bytes, uint32_t* length, uint32_t capacity);
