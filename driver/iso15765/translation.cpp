// The transmit translation of ISO 15765 messages (header rules, the DAS and generic tables,
// the PCMflash strip, the UdsApduOnly rules) and the CAN id put back on received payloads.
#include <algorithm>
#include <cstring>

#include "common/big_endian.h"
#include "common/protocols.h"
#include "driver/config/driver_config.h"
#include "driver/config/session_profile.h"
#include "driver/iso15765/iso15765.h"
#include "driver/log/log.h"

namespace {

const char kPayloadOnlyLine[] = "ISO15765: CAN_ID_IN_DATA -> payload-only translation (stripped CAN-ID header)";
const char kDasNotConfigured[] = "ISO15765: DAS legacy keeping full frame (comparams not configured)";

bool IsRecognisedUdsService(uint8_t sid) {
    static const uint8_t kServices[] = {0x10, 0x11, 0x14, 0x19, 0x22, 0x23, 0x27, 0x28,
                                        0x2E, 0x31, 0x34, 0x36, 0x37, 0x3E, 0x85};
    return std::find(std::begin(kServices), std::end(kServices), sid) != std::end(kServices);
}

// Transport keys of the PCMflash profile decide whether the VCI may take the ids.
bool ComParamsUsable(const Iso15765Link& link, const Iso15765TxState& st, const Iso15765Rules& rules) {
    if (!st.comParamsEnabled) return false;
    if (!rules.pcmflash) return true;
    return !rules.pcmflashForceRawCan && (rules.pcmflashForceIsoTp || link.kwpOnCan);
}

uint32_t ExpectedRxFor(const Iso15765Rules& rules, uint32_t txId) {
    if (rules.idPairs)
        for (const auto& pair : *rules.idPairs)
            if (pair.first == txId) return pair.second;
    if (txId == 0x7DF) return 0x7E8;
    if (txId >= 0x7E0 && txId <= 0x7E7) return txId + 8;
    return txId;
}

int32_t PlanBytes(TxPlan* plan, const uint8_t* bytes, uint32_t length) {
    plan->bytes = bytes;
    plan->length = length;
    return j2534::STATUS_NOERROR;
}

int32_t AskForIds(TxPlan* plan, TxPlan::Rules rules, bool usable, uint32_t tx, uint32_t rx) {
    plan->setIds = true;
    plan->idsTx = tx;
    plan->idsRx = rx;
    plan->resumeWith = rules;
    plan->comParamsUsable = usable;
    return j2534::STATUS_NOERROR;
}

// Header assumption, forced prefix and the CAN-id bookkeeping.
void ApplyHeaderRules(const Iso15765Link& link, Iso15765TxState& st, const Iso15765Rules& rules, TxMessage& msg) {
    const uint32_t p = link.protocolId;
    const bool iso = j2534::IsIso15765Protocol(p);
    if (!msg.canIdInData && iso && !link.softwareIsoTp && rules.assumeCanIdPrefix && msg.length >= 4 &&
        j2534::LooksLikeCanIdHeader(msg.data()))
        msg.canIdInData = true;

    if (iso && !link.rawMode && !link.softwareIsoTp && !msg.canIdInData && !st.comParamsEnabled &&
        link.canIdInDataFallback) {
        msg.start -= 4;
        msg.length += 4;
        WriteBigEndian32(msg.data(), st.isoTpTxId != 0 ? st.isoTpTxId : rules.firstTxId);
        msg.canIdInData = true;
        msg.headerFromHost = false;
        WriteLogLine("ISO15765: ComParams unavailable; forcing CAN_ID_IN_DATA prefix");
    }

    if (msg.length >= 4 && (p == j2534::CAN || (p == j2534::ISO15765 && msg.canIdInData))) {
        uint32_t id = ReadBigEndian32(msg.data()) & j2534::kCanIdMask;
        if (rules.das && rules.rewriteFunctional7DF && id == 0x7DF && p == j2534::ISO15765) {
            id = rules.firstTxId;
            WriteBigEndian32(msg.data(), id);
            msg.headerRewritten = msg.headerFromHost;
        }
        st.lastTxCanId = id;
        st.expectedRxId = ExpectedRxFor(rules, id);
    }
}

// The payload after the CAN id as the UdsApduOnly rules want it: [first, first + count).
void ApplyUdsApduOnly(const uint8_t* payload, uint32_t plen, uint32_t* first, uint32_t* count) {
    const uint8_t b = payload[0];
    const unsigned type = b >> 4, n = b & 0x0F;
    if (type == 1 && plen == 8) {
        *first = 2;
        *count = 6;
        WriteLogLine("ISO15765: UdsApduOnly -> stripped ISO-TP FF header (ISO15765 payload-only)");
    } else if (type == 1) {
        LogPrintf("ISO15765: UdsApduOnly -> payload-only buffer, no FF stripping (first=0x%02X) (ISO15765 payload-only)",
                  b);
    } else if (type == 0 && n >= 1 && plen >= n + 1) {
        if (plen >= 2 && IsRecognisedUdsService(payload[1])) {
            LogPrintf("ISO15765: UdsApduOnly enabled but message already contains ISO-TP PCI (SID=0x%02X). Keeping PCI. "
                      "(ISO15765 payload-only)",
                      payload[1]);
        } else {
            *first = 1;
            *count = n;
            WriteLogLine("ISO15765: UdsApduOnly -> stripped ISO-TP PCI (ISO15765 payload-only)");
        }
    }
    WriteLogLine(kPayloadOnlyLine);
}

// ---- Generic rules for protocol 6 ------------------------------------------------------------

// After the ids: VW/ODIS keeps the full frame, the others send the payload behind the CAN id.
int32_t GenericPayload(const Iso15765Rules& rules, TxMessage& msg, TxPlan* plan) {
    uint8_t* d = msg.data();
    if (rules.vwOdis) {
        WriteLogLine("ISO15765: VW/ODIS backend -> keeping full frame (no payload-only translation)");
        return PlanBytes(plan, d, msg.length);
    }
    if (msg.length <= 4) return j2534::ERR_INVALID_MSG;
    uint8_t* payload = d + 4;
    uint32_t plen = msg.length - 4;
    if (rules.pcmflash) {
        const PcmflashStrip strip = StripPcmflashCanId(payload, &plen, kMaxIsoTpPayload);
        if (strip.kind == PcmflashStrip::Kind::SingleFrame)
            LogPrintf("ISO15765: PCMflash stripped embedded CAN-ID in SF (len %u->%u)", strip.before, strip.after);
        else if (strip.kind == PcmflashStrip::Kind::FirstFrame)
            LogPrintf("ISO15765: PCMflash stripped embedded CAN-ID in FF (total->%u)", strip.after);
    }
    uint32_t first = 0, count = plen;
    if (!rules.udsApduOnly || plen == 0)
        WriteLogLine(kPayloadOnlyLine);
    else
        ApplyUdsApduOnly(payload, plen, &first, &count);
    return PlanBytes(plan, payload + first, count);
}

void GenericIdsOutcome(bool accepted, Iso15765TxState& st) {
    if (accepted) {
        st.isoTpIdsSet = true;
        return;
    }
    st.comParamsEnabled = false;
    WriteLogLine("Dpdu_SetIso15765Ids failed; continuing with payload-only translation");
}

int32_t TranslateGeneric(const Iso15765Link& link, Iso15765TxState& st, const Iso15765Rules& rules, bool usable,
                         TxMessage& msg, TxPlan* plan) {
    const uint8_t* d = msg.data();
    if (link.rawMode || !msg.canIdInData || msg.length < 4) {
        if (!link.rawMode && msg.length >= 4) WriteLogLine("ISO15765: no CAN_ID_IN_DATA flag; sending full buffer");
        return PlanBytes(plan, d, msg.length);
    }
    uint32_t tx = ReadBigEndian32(d) & j2534::kCanIdMask;
    uint32_t rx = st.expectedRxId;
    const uint32_t low = tx & j2534::kStandardCanIdMask;
    if (rx == 0 && low >= 1 && low <= 0x7F7) rx = (tx & ~j2534::kStandardCanIdMask) | (low + 8);
    FixXentryIso15765Ids(rules, tx, rx);
    if (tx != 0) st.isoTpTxId = tx;
    if (rx != 0) st.isoTpRxId = st.expectedRxId = rx;
    if (usable && !st.isoTpIdsSet && !st.comParamsTried) {
        st.comParamsTried = true;
        return AskForIds(plan, TxPlan::Rules::Generic, usable, tx, rx);
    }
    return GenericPayload(rules, msg, plan);
}

// ---- DAS rules for protocol 6 ----------------------------------------------------------------

int32_t KeepFullFrame(const TxMessage& msg, TxPlan* plan, const char* line) {
    if (line) WriteLogLine(line);
    return PlanBytes(plan, msg.data(), msg.length);
}

// After the ids: PCI present, APDU only, a synthesised single frame or the full frame.
int32_t DasFrame(bool usable, TxMessage& msg, TxPlan* plan) {
    const uint8_t* d = msg.data();
    const uint32_t len = msg.length;
    if (len <= 4) return KeepFullFrame(msg, plan, kDasNotConfigured);
    const unsigned pci = d[4] >> 4;
    if ((pci == 0 && len == (d[4] & 0x0Fu) + 5) || (pci == 1 && len >= 7))
        return KeepFullFrame(msg, plan, "ISO15765: DAS legacy keeping full frame (ISO-TP PCI present)");
    if (!usable) {
        WriteLogLine("ISO15765: DAS legacy ComParams disabled -> forwarding APDU-only (no CAN-ID header)");
        return PlanBytes(plan, d + 4, len - 4);
    }
    if (len - 4 <= 7) {
        std::memset(plan->scratch, 0, sizeof plan->scratch);
        std::memcpy(plan->scratch, d, 4);
        plan->scratch[4] = static_cast<uint8_t>((len - 4) & 0x0F);
        std::memcpy(plan->scratch + 5, d + 4, len - 4);
        WriteLogLine("ISO15765: DAS legacy synthesized ISO-TP SF (with CAN-ID header) from APDU (ComParams enabled)");
        return PlanBytes(plan, plan->scratch, sizeof plan->scratch);
    }
    return KeepFullFrame(msg, plan, "ISO15765: DAS legacy APDU >7 bytes without ISO-TP PCI; keeping full frame");
}

// False when the message goes on to the frame rules.
bool DasIdsOutcome(bool accepted, Iso15765TxState& st, const Iso15765Rules& rules, uint32_t tx, uint32_t rx) {
    if (accepted) {
        st.isoTpIdsSet = true;
        st.isoTpTxId = tx;
        st.isoTpRxId = rx;
        return false;
    }
    LogPrintf("Dpdu_SetIso15765Ids failed (tx=0x%lX, rx=0x%lX); disabling comparams", static_cast<unsigned long>(tx),
              static_cast<unsigned long>(rx));
    st.comParamsEnabled = false;
    if (!rules.vwOdis) return false;
    WriteLogLine("ISO15765: VW/ODIS comparam failure; keeping full frame (no payload-only fallback)");
    return true;
}

// False when the message belongs to the generic rules.
bool TranslateDas(Iso15765TxState& st, const Iso15765Link& link, const Iso15765Rules& rules, bool usable,
                  TxMessage& msg, TxPlan* plan, int32_t* rc) {
    if (link.rawMode || !msg.canIdInData || msg.length < 4) return false;
    if (rules.dasKeepFullFrame) {
        WriteLogLine("DAS profile: payload-only fallback disabled; keeping full frame");
        *rc = KeepFullFrame(msg, plan, "ISO15765: DAS legacy keeping full frame (payload-only disabled)");
        return true;
    }
    if (!st.comParamsEnabled) {
        WriteLogLine("ISO15765: DAS legacy ComParams disabled -> keeping full frame (no payload-only)");
    } else {
        uint32_t tx = ReadBigEndian32(msg.data());
        uint32_t rx = st.expectedRxId;
        FixXentryIso15765Ids(rules, tx, rx);
        if (!st.isoTpIdsSet && st.comParamsTried) {
            *rc = KeepFullFrame(msg, plan, kDasNotConfigured);
            return true;
        }
        if (!st.isoTpIdsSet) {
            st.comParamsTried = true;
            *rc = AskForIds(plan, TxPlan::Rules::Das, usable, tx, rx);
            return true;
        }
    }
    *rc = DasFrame(usable, msg, plan);
    return true;
}

}  // namespace

Iso15765Rules Iso15765RulesFor(const DriverConfig& c, const SessionProfile& s) {
    Iso15765Rules r;
    r.das = s.DasProfile;
    r.xentry = s.XentryProfile;
    r.vwOdis = s.Oem == OemKind::VwOdis;
    r.pcmflash = IsPcmflashCompatActive(s);
    r.pcmflashForceRawCan = s.PCMflash.ForceRawCan;
    r.pcmflashForceIsoTp = s.PCMflash.ForceIsoTp;
    r.udsApduOnly = s.UdsApduOnly;
    r.assumeCanIdPrefix = c.ISO15765.AssumeCanIdPrefix;
    r.rewriteFunctional7DF = c.DAS.RewriteFunctional7DF;
    r.dasKeepFullFrame = c.DAS.DisablePayloadOnlyFallback;
    r.dasDropOtherRx = c.DAS.DropOtherIsoTpRx;
    r.idPairs = &c.DasIdPairs;
    r.firstTxId = c.DasIdPairs.empty() ? 0x7E0 : c.DasIdPairs.front().first;
    r.firstRxId = c.DasIdPairs.empty() ? 0x7E8 : c.DasIdPairs.front().second;
    return r;
}

void FixXentryIso15765Ids(const Iso15765Rules& rules, uint32_t& txId, uint32_t& rxId) {
    if (!rules.xentry) return;
    if (txId != 0x7DF && txId < 0x600) {
        LogPrintf("XENTRY: suspicious ISO15765 TX ID 0x%lX; using default 0x%lX", static_cast<unsigned long>(txId),
                  static_cast<unsigned long>(rules.firstTxId));
        txId = rules.firstTxId;
    }
    if (rxId == 0 || rxId < 0x600) rxId = rules.firstRxId;
}

uint8_t* ResetTxMessage(TxMessage* msg, uint32_t length, uint32_t txFlags) {
    msg->start = 4;
    msg->length = std::min(length, j2534::kMaxDataSize);
    msg->canIdInData = (txFlags & j2534::ISO15765_FRAME_PAD) != 0;
    msg->headerFromHost = true;
    msg->headerRewritten = false;
    return msg->data();
}

int32_t PrepareIso15765Tx(const Iso15765Link& link, Iso15765TxState& st, const Iso15765Rules& rules,
                          TxMessage& msg, TxPlan* plan) {
    plan->setIds = false;
    ApplyHeaderRules(link, st, rules, msg);
    plan->softwareIsoTp = link.softwareIsoTp && !j2534::IsCanFdProtocol(link.protocolId);
    if (plan->softwareIsoTp) return j2534::STATUS_NOERROR;

    const bool usable = ComParamsUsable(link, st, rules);
    if (link.protocolId != j2534::ISO15765) return PlanBytes(plan, msg.data(), msg.length);
    int32_t rc = j2534::STATUS_NOERROR;
    if (rules.das && TranslateDas(st, link, rules, usable, msg, plan, &rc)) return rc;
    return TranslateGeneric(link, st, rules, usable, msg, plan);
}

int32_t CompleteIso15765Tx(bool idsAccepted, Iso15765TxState& st,
                           const Iso15765Rules& rules, TxMessage& msg, TxPlan* plan) {
    plan->setIds = false;
    if (plan->resumeWith == TxPlan::Rules::Generic) {
        GenericIdsOutcome(idsAccepted, st);
        return GenericPayload(rules, msg, plan);
    }
    if (DasIdsOutcome(idsAccepted, st, rules, plan->idsTx, plan->idsRx))
        return KeepFullFrame(msg, plan, kDasNotConfigured);
    return DasFrame(plan->comParamsUsable, msg, plan);
}

bool RestoreRxCanId(const Iso15765Link& link, Iso15765TxState& st, const Iso15765Rules& rules,
                    const uint8_t* payload, size_t len, uint8_t* data, uint32_t* dataSize) {
    auto copyUnchanged = [&] {
        *dataSize = static_cast<uint32_t>(std::min<size_t>(len, j2534::kMaxDataSize));
        if (*dataSize) std::memcpy(data, payload, *dataSize);
        return true;
    };
    const uint32_t p = link.protocolId;
    if (link.rawMode || (p != j2534::CAN && p != j2534::ISO15765)) return copyUnchanged();
    if (len >= 5) {
        const uint32_t id = ReadBigEndian32(payload) & j2534::kCanIdMask;
        bool header = false;
        if (j2534::LooksLikeCanIdHeader(payload) && id != 0) {
            header = true;
            if (p == j2534::ISO15765 && id <= j2534::kStandardCanIdMask) st.expectedRxId = id;
        } else if (st.expectedRxId != 0 && st.expectedRxId == id) {
            header = true;
        }
        if (header) {
            WriteLogLine("PassThruReadMsgs: backend returned CAN header in non-raw mode; forwarding as-is");
            return copyUnchanged();
        }
    }
    if (len > kMaxIsoTpPayload) return copyUnchanged();
    uint32_t rx = st.expectedRxId;
    if (rx == 0 && rules.das) rx = rules.firstRxId;
    if (rules.das && rules.dasDropOtherRx && rules.idPairs && !rules.idPairs->empty()) {
        bool known = false;
        for (const auto& pair : *rules.idPairs) known = known || pair.second == rx;
        if (!known) return false;
    }
    WriteBigEndian32(data, rx);
    if (len) std::memcpy(data + 4, payload, len);
    *dataSize = static_cast<uint32_t>(len + 4);
    return true;
}

PcmflashStrip StripPcmflashCanId(uint8_t* b, uint32_t* length, uint32_t capacity) {
    PcmflashStrip strip;
    const uint32_t len = *length;
    if (len <= 6) return strip;
    const uint8_t type = b[0] >> 4;
    if (type > 1 || b[2] != 0 || b[3] != 0 || (b[4] == 0 && b[5] == 0)) return strip;
    if (type == 0) {
        const unsigned oldLen = b[0] & 0x0F;
        if (oldLen <= 3) return strip;
        const unsigned newLen = oldLen - 4;
        std::memmove(b + 1, b + 5, len - 5);
        b[0] = static_cast<uint8_t>(newLen);
        uint32_t out = len - 4;
        // A length that now announces more than is left is made up with zeros.
        const uint32_t wanted = std::min<uint32_t>(newLen + 1, capacity);
        if (out < wanted) {
            std::memset(b + out, 0, wanted - out);
            out = wanted;
        }
        *length = out;
        strip.kind = PcmflashStrip::Kind::SingleFrame;
        strip.before = oldLen;
        strip.after = newLen;
        return strip;
    }
    unsigned total = (unsigned(b[0] & 0x0F) << 8) | b[1];
    if (total <= 3) return strip;
    total -= 4;
    std::memmove(b + 2, b + 6, len - 6);
    b[0] = static_cast<uint8_t>(0x10 | ((total >> 8) & 0x0F));
    b[1] = static_cast<uint8_t>(total & 0xFF);
    *length = len - 4;
    strip.kind = PcmflashStrip::Kind::FirstFrame;
    strip.after = total;
    return strip;
}
