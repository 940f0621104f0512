// The transmit translation of ISO 15765 messages (header rules, the DAS and generic tables,
// the PCMflash strip, the UdsApduOnly rules) and the CAN id put back on received payloads.
#include <algorithm>
#include <cstring>

#include "common/protocols.h"
#include "driver/config/driver_config.h"
#include "driver/config/host_profile.h"
#include "driver/log/log.h"
#include "driver/dpdu/dpdu_backend.h"
#include "driver/iso15765/iso15765.h"

namespace {

const char kPayloadOnlyLine[] = "ISO15765: CAN_ID_IN_DATA -> payload-only translation (stripped CAN-ID header)";

bool IsRecognisedUdsService(uint8_t sid) {
    static const uint8_t kServices[] = {0x10, 0x11, 0x14, 0x19, 0x22, 0x23, 0x27, 0x28,
                                        0x2E, 0x31, 0x34, 0x36, 0x37, 0x3E, 0x85};
    return std::find(std::begin(kServices), std::end(kServices), sid) != std::end(kServices);
}

// Transport keys of the PCMflash profile decide whether the VCI may take the ids.
bool ComParamsUsable(const ChannelState& ch) {
    if (!ch.comParamsEnabled) return false;
    if (!IsPcmflashCompatActive()) return true;
    const auto& pcm = g_config.PCMflash;
    return !pcm.ForceRawCan && (pcm.ForceIsoTp || ch.kwpOnCan);
}

uint32_t ExpectedRxFor(uint32_t txId) {
    for (const auto& pair : g_config.DasIdPairs)
        if (pair.first == txId) return pair.second;
    if (txId == 0x7DF) return 0x7E8;
    if (txId >= 0x7E0 && txId <= 0x7E7) return txId + 8;
    return txId;
}

void PlanBytes(TxPlan* plan, const uint8_t* bytes, uint32_t length) {
    plan->bytes = bytes;
    plan->length = length;
}

// Header assumption, forced prefix and the CAN-id bookkeeping.
void ApplyHeaderRules(ChannelState& ch, TxMessage& msg) {
    const uint32_t p = ch.protocolId;
    uint8_t* d = msg.data();
    if (!msg.canIdInData && j2534::IsIso15765Protocol(p) && !ch.swIsoTp && g_config.ISO15765.AssumeCanIdPrefix &&
        msg.length >= 4 && j2534::LooksLikeCanIdHeader(d))
        msg.canIdInData = true;

    if (j2534::IsIso15765Protocol(p) && !ch.dpduRawMode && !ch.swIsoTp && !msg.canIdInData && !ch.comParamsEnabled &&
        ch.canIdInDataFallback) {
        msg.start -= 4;
        msg.length += 4;
        WriteBigEndian32(msg.data(), ch.isoTpTxId != 0 ? ch.isoTpTxId : DasFirstTxId());
        msg.canIdInData = true;
        msg.headerFromHost = false;
        WriteLogLine("ISO15765: ComParams unavailable; forcing CAN_ID_IN_DATA prefix");
    }

    if (msg.length >= 4 && (p == j2534::CAN || (p == j2534::ISO15765 && msg.canIdInData))) {
        uint32_t id = ReadBigEndian32(msg.data()) & j2534::kCanIdMask;
        if (g_config.DasProfile && g_config.DAS.RewriteFunctional7DF && id == 0x7DF && p == j2534::ISO15765) {
            id = DasFirstTxId();
            WriteBigEndian32(msg.data(), id);
            msg.headerRewritten = msg.headerFromHost;
        }
        ch.lastTxCanId = id;
        ch.expectedRxId = ExpectedRxFor(id);
    }
}

// Drops a CAN id that PCMflash embeds behind the PCI of a single or first frame.
void StripPcmflashCanId(std::vector<uint8_t>& payload) {
    if (!IsPcmflashCompatActive() || payload.size() <= 6) return;
    const uint8_t type = payload[0] >> 4;
    if (type > 1 || payload[2] != 0 || payload[3] != 0 || (payload[4] == 0 && payload[5] == 0)) return;
    if (type == 0) {
        const unsigned oldLen = payload[0] & 0x0F;
        if (oldLen <= 3) return;
        const unsigned newLen = oldLen - 4;
        payload.erase(payload.begin() + 1, payload.begin() + 5);
        payload[0] = static_cast<uint8_t>(newLen);
        if (payload.size() < newLen + 1) payload.resize(newLen + 1, 0);
        LogPrintf("ISO15765: PCMflash stripped embedded CAN-ID in SF (len %u->%u)", oldLen, newLen);
        return;
    }
    unsigned total = (unsigned(payload[0] & 0x0F) << 8) | payload[1];
    if (total <= 3) return;
    total -= 4;
    payload.erase(payload.begin() + 2, payload.begin() + 6);
    payload[0] = static_cast<uint8_t>(0x10 | ((total >> 8) & 0x0F));
    payload[1] = static_cast<uint8_t>(total & 0xFF);
    LogPrintf("ISO15765: PCMflash stripped embedded CAN-ID in FF (total->%u)", total);
}

// The payload after the CAN id as the UdsApduOnly rules want it: [first, first + count).
void ApplyUdsApduOnly(const std::vector<uint8_t>& payload, size_t* first, size_t* count) {
    const size_t plen = payload.size();
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

// The generic rules for protocol 6.
int32_t TranslateGeneric(ChannelState& ch, TxMessage& msg, bool usable, TxPlan* plan) {
    const uint8_t* d = msg.data();
    if (ch.dpduRawMode || !msg.canIdInData || msg.length < 4) {
        if (!ch.dpduRawMode && msg.length >= 4) WriteLogLine("ISO15765: no CAN_ID_IN_DATA flag; sending full buffer");
        PlanBytes(plan, d, msg.length);
        return j2534::STATUS_NOERROR;
    }
    uint32_t tx = ReadBigEndian32(d) & j2534::kCanIdMask;
    uint32_t rx = ch.expectedRxId;
    if (rx == 0 && (tx & 0x7FF) >= 1 && (tx & 0x7FF) <= 0x7F7) rx = (tx & ~0x7FFu) | ((tx & 0x7FF) + 8);
    FixXentryIso15765Ids(tx, rx);
    if (tx != 0) ch.isoTpTxId = tx;
    if (rx != 0) ch.isoTpRxId = ch.expectedRxId = rx;
    if (usable && !ch.isoTpIdsSet && !ch.comParamsTried) {
        ch.comParamsTried = true;
        if (Dpdu_SetIso15765Ids(ch.linkHandle, tx, rx)) {
            ch.isoTpIdsSet = true;
        } else {
            ch.comParamsEnabled = false;
            WriteLogLine("Dpdu_SetIso15765Ids failed; continuing with payload-only translation");
        }
    }
    if (g_oemKind == OemKind::VwOdis) {
        WriteLogLine("ISO15765: VW/ODIS backend -> keeping full frame (no payload-only translation)");
        PlanBytes(plan, d, msg.length);
        return j2534::STATUS_NOERROR;
    }
    if (msg.length <= 4) return j2534::ERR_INVALID_MSG;

    std::vector<uint8_t>& payload = plan->payload;
    payload.assign(d + 4, d + msg.length);
    StripPcmflashCanId(payload);
    size_t first = 0, count = payload.size();
    if (!g_config.UdsApduOnly || payload.empty())
        WriteLogLine(kPayloadOnlyLine);
    else
        ApplyUdsApduOnly(payload, &first, &count);
    PlanBytes(plan, payload.data() + first, static_cast<uint32_t>(count));
    return j2534::STATUS_NOERROR;
}

const char kDasNotConfigured[] = "ISO15765: DAS legacy keeping full frame (comparams not configured)";

// The DAS rules for protocol 6; false when the message belongs to the generic rules.
bool TranslateDas(ChannelState& ch, TxMessage& msg, bool usable, TxPlan* plan) {
    const uint8_t* d = msg.data();
    const uint32_t len = msg.length;
    if (ch.dpduRawMode || !msg.canIdInData || len < 4) return false;
    auto full = [&](const char* line) {
        if (line) WriteLogLine(line);
        PlanBytes(plan, d, len);
        return true;
    };
    if (g_config.DAS.DisablePayloadOnlyFallback) {
        WriteLogLine("DAS profile: payload-only fallback disabled; keeping full frame");
        return full("ISO15765: DAS legacy keeping full frame (payload-only disabled)");
    }
    if (!ch.comParamsEnabled) {
        WriteLogLine("ISO15765: DAS legacy ComParams disabled -> keeping full frame (no payload-only)");
    } else {
        uint32_t tx = ReadBigEndian32(d);
        uint32_t rx = ch.expectedRxId;
        FixXentryIso15765Ids(tx, rx);
        if (!ch.isoTpIdsSet) {
            if (ch.comParamsTried) return full(kDasNotConfigured);
            ch.comParamsTried = true;
            if (Dpdu_SetIso15765Ids(ch.linkHandle, tx, rx)) {
                ch.isoTpIdsSet = true;
                ch.isoTpTxId = tx;
                ch.isoTpRxId = rx;
            } else {
                LogPrintf("Dpdu_SetIso15765Ids failed (tx=0x%lX, rx=0x%lX); disabling comparams",
                          static_cast<unsigned long>(tx), static_cast<unsigned long>(rx));
                ch.comParamsEnabled = false;
                if (g_oemKind == OemKind::VwOdis) {
                    WriteLogLine("ISO15765: VW/ODIS comparam failure; keeping full frame (no payload-only fallback)");
                    return full(kDasNotConfigured);
                }
            }
        }
    }
    if (len <= 4) return full(kDasNotConfigured);
    const unsigned pci = d[4] >> 4;
    if (len >= 5 && ((pci == 0 && len == (d[4] & 0x0Fu) + 5) || (pci == 1 && len >= 7)))
        return full("ISO15765: DAS legacy keeping full frame (ISO-TP PCI present)");
    if (!usable) {
        WriteLogLine("ISO15765: DAS legacy ComParams disabled -> forwarding APDU-only (no CAN-ID header)");
        PlanBytes(plan, d + 4, len - 4);
        return true;
    }
    if (len - 4 <= 7) {
        std::memset(plan->scratch, 0, sizeof plan->scratch);
        std::memcpy(plan->scratch, d, 4);
        plan->scratch[4] = static_cast<uint8_t>((len - 4) & 0x0F);
        std::memcpy(plan->scratch + 5, d + 4, len - 4);
        WriteLogLine("ISO15765: DAS legacy synthesized ISO-TP SF (with CAN-ID header) from APDU (ComParams enabled)");
        PlanBytes(plan, plan->scratch, sizeof plan->scratch);
        return true;
    }
    return full("ISO15765: DAS legacy APDU >7 bytes without ISO-TP PCI; keeping full frame");
}

}  // namespace

uint8_t* ResetTxMessage(TxMessage* msg, uint32_t length, uint32_t txFlags) {
    msg->start = 4;
    msg->length = std::min(length, j2534::kMaxDataSize);
    msg->canIdInData = (txFlags & j2534::ISO15765_FRAME_PAD) != 0;
    msg->headerFromHost = true;
    msg->headerRewritten = false;
    return msg->data();
}

int32_t PrepareIso15765Tx(ChannelState& ch, TxMessage& msg, TxPlan* plan) {
    ApplyHeaderRules(ch, msg);
    plan->softwareIsoTp = ch.swIsoTp && !j2534::IsCanFdProtocol(ch.protocolId);
    if (plan->softwareIsoTp) return j2534::STATUS_NOERROR;

    const bool usable = ComParamsUsable(ch);
    if (ch.protocolId != j2534::ISO15765) {
        PlanBytes(plan, msg.data(), msg.length);
        return j2534::STATUS_NOERROR;
    }
    if (g_config.DasProfile && TranslateDas(ch, msg, usable, plan)) return j2534::STATUS_NOERROR;
    return TranslateGeneric(ch, msg, usable, plan);
}

bool RestoreRxCanId(ChannelState& ch, const std::vector<uint8_t>& payload, uint8_t* data, uint32_t* dataSize) {
    const size_t len = payload.size();
    auto copyUnchanged = [&] {
        *dataSize = static_cast<uint32_t>(std::min<size_t>(len, j2534::kMaxDataSize));
        if (*dataSize) std::memcpy(data, payload.data(), *dataSize);
        return true;
    };
    const uint32_t p = ch.protocolId;
    if (ch.dpduRawMode || (p != j2534::CAN && p != j2534::ISO15765)) return copyUnchanged();
    if (len >= 5) {
        const uint8_t* b = payload.data();
        const uint32_t id = ReadBigEndian32(b) & j2534::kCanIdMask;
        bool header = false;
        if (j2534::LooksLikeCanIdHeader(b) && id != 0) {
            header = true;
            if (p == j2534::ISO15765 && id <= 0x7FF) ch.expectedRxId = id;
        } else if (ch.expectedRxId != 0 && ch.expectedRxId == id) {
            header = true;
        }
        if (header) {
            WriteLogLine("PassThruReadMsgs: backend returned CAN header in non-raw mode; forwarding as-is");
            return copyUnchanged();
        }
    }
    if (len > kMaxIsoTpPayload) return copyUnchanged();
    uint32_t rx = ch.expectedRxId;
    if (rx == 0 && g_config.DasProfile) rx = DasFirstRxId();
    if (g_config.DasProfile && g_config.DAS.DropOtherIsoTpRx && !g_config.DasIdPairs.empty()) {
        bool known = false;
        for (const auto& pair : g_config.DasIdPairs) known = known || pair.second == rx;
        if (!known) return false;
    }
    WriteBigEndian32(data, rx);
    if (len) std::memcpy(data + 4, payload.data(), len);
    *dataSize = static_cast<uint32_t>(len + 4);
    return true;
}
