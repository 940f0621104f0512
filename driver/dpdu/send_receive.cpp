// Traffic over ComPrimitives: the last backend-specific adjustment of outgoing bytes, event
// polling for results, and the battery-voltage I/O control.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <chrono>
#include <string>
#include <vector>

#include "common/protocols.h"
#include "driver/config/driver_config.h"
#include "driver/config/session_profile.h"
#include "driver/log/log.h"
#include "driver/dpdu/api_table.h"
#include "driver/dpdu/backend_state.h"
#include "driver/dpdu/dpdu_backend.h"
#include "driver/dpdu/session_note.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kNoResponseError = 0x105;
constexpr uint32_t kNoResponseExtra = 0x208;

PDU_EXP_RESP_DATA g_expectedResponse = {};


bool MeansCommLost(uint32_t code) {
    return static_cast<int32_t>(code) < 0 || code == PDU_ERR_COMM_PC_TO_VCI_FAILED ||
           code == PDU_ERR_MODULE_NOT_CONNECTED;
}

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Length of an ISO-TP single frame announced by this PCI byte, 0 when it is none.
uint32_t SingleFrameLength(uint8_t pci) { return (pci >> 4) == 0 ? (pci & 0x0Fu) : 0; }

// A CAN id and the payload of a single frame, which holds at most 15 bytes.
constexpr size_t kHeaderAndSingleFrame = 4 + 15;

// The bytes as the backend wants them on a link without raw mode: a part of data, or (CAN id
// kept, PCI dropped) made up in scratch. *length is updated.
const uint8_t* AdjustForBackend(const DpduLink& link, const DpduSendMode& mode, const uint8_t* data,
                                uint32_t* length, uint8_t (&scratch)[kHeaderAndSingleFrame]) {
    const uint8_t* out = data;
    uint32_t size = *length;
    const BackendType type = CurrentBackendType();
    if (size >= 5) {
        const uint32_t canId = BigEndian32(out);
        if (link.payloadOnly) {
            out += 4;
            size -= 4;
            LogPrintf("Dpdu_Send: rawMode=0 -> payload-only (id=0x%X)", canId);
            if (link.iso15765 && mode.udsApduOnly && size >= 2) {
                const uint32_t len = SingleFrameLength(out[0]);
                if (len != 0 && len + 1 <= size) {
                    out += 1;
                    size = len;
                    WriteLogLine("ISO15765: payload-only mode -> converted ISO-TP SingleFrame to UDS payload");
                }
            }
            *length = size;
            return out;
        }
        if (type == BackendType::TVN || (type == BackendType::TRX4820 && !link.canIdMode)) {
            if ((canId & j2534::kCanIdFlagBits) == 0) {
                out += 4;
                size -= 4;
                LogPrintf("Dpdu_Send: rawMode=0 -> stripping CAN-ID header (id=0x%X)", canId);
            }
        } else {
            WriteLogLine("Dpdu_Send: rawMode=0 -> keeping full frame (backend expects CAN-ID header)");
        }
    }
    const bool apduOnlyBackend =
        type == BackendType::TRX4820 || (type == BackendType::Orvex && mode.xentryProfile);
    if (!link.payloadOnly && link.iso15765 && mode.udsApduOnly && apduOnlyBackend && size >= 6) {
        const uint32_t len = SingleFrameLength(out[4]);
        if (len != 0 && len + 5 <= size) {
            std::memcpy(scratch, out, 4);
            std::memcpy(scratch + 4, out + 5, len);
            out = scratch;
            size = 4 + len;
            WriteLogLine("ISO15765: VW/ODIS mode -> kept CAN-ID header but stripped ISO-TP PCI (UDS APDU only)");
        }
    }
    *length = size;
    return out;
}

void CountNoResponse(uint32_t linkId, const DpduLink& link) {
    const uint64_t count = ++g_backend.noResponse.events;
    const uint64_t now = platform::TickCount64();
    if (g_backend.noResponse.logged.load() && now - g_backend.noResponse.lastLineTick.load() < 1000) return;
    const uint64_t sinceLast = count - g_backend.noResponse.atLastLine.load();
    g_backend.noResponse.atLastLine = count;
    g_backend.noResponse.lastLineTick = now;
    g_backend.noResponse.logged = true;
    std::string name;
    {
        std::lock_guard<std::mutex> lock(g_backend.tableLock);
        auto it = g_backend.linkNames.find(linkId);
        if (it != g_backend.linkNames.end()) name = it->second;
    }
    LogPrintf("Dpdu_Receive: no-response events (0x105/0x208) count_last_sec=%u resourceId=0x%X logicalLink='%s'",
              static_cast<uint32_t>(sinceLast), link.resourceId, name.c_str());
}

// Event items without data (status, errors) between two results: a take without waiting looks
// past this many before it gives up, so that a flood of them cannot hold the caller.
constexpr unsigned kMostItemsPerTake = 64;
// Between two polls that found the link's queue empty: short enough that an answer waits little
// for its reader, long enough that a reader waiting for seconds costs next to no CPU.
constexpr uint32_t kEmptyPollPauseUs = 500;

enum class Polled { Result, Empty, Other, CommLost };

// One event item of the link: a result with data into *out (stamped), an empty queue, something
// else (counted or logged), or the loss of the VCI (the backend is then shut down).
Polled PollEvent(uint32_t linkId, const DpduLink& link, bool trx, DpduPayload* out, bool* sawNoResponse,
                 uint32_t* code) {
    EventItemCopy item;
    *code = CallPDUGetEventItemCopy(link.hMod, link.hCLL, &item, out->bytes, sizeof out->bytes);
    if (MeansCommLost(*code)) {
        MarkCommLost("GetEventItem", *code);
        Dpdu_Shutdown();
        return Polled::CommLost;
    }
    if (*code != PDU_STATUS_NOERROR || item.type == 0) {
        if (trx && *code == PDU_ERR_EVENT_QUEUE_EMPTY) {
            EventItemCopy moduleItem;
            uint8_t ignored[1];
            CallPDUGetEventItemCopy(link.hMod, PDU_HANDLE_UNDEF, &moduleItem, ignored, 0);
        }
        return Polled::Empty;
    }
    if (!item.detail) return Polled::Other;
    if (item.type == PDU_IT_RESULT) {
        out->receivedUs = platform::MonotonicUs();
        out->length = item.dataLength;
        return Polled::Result;
    }
    if (item.type == PDU_IT_STATUS) {
        if (item.status == PDU_COPST_FINISHED || item.status == PDU_COPST_CANCELLED) NoteComPrimitiveEnded(item.hCop);
    } else if (item.type == PDU_IT_ERROR) {
        if (item.errorCode == kNoResponseError && item.extraError == kNoResponseExtra && link.iso15765 &&
            !g_backend.api.closing.load()) {
            *sawNoResponse = true;
            CountNoResponse(linkId, link);
        } else {
            LogPrintf("Dpdu_Receive: CoP error event hCoP=%u errId=0x%X (%u) extra=0x%X (%u)", item.hCop,
                      item.errorCode, item.errorCode, item.extraError, item.extraError);
        }
    }
    return Polled::Other;
}

}  // namespace

DpduSendMode DpduSendModeFor(const SessionProfile& s) {
    DpduSendMode mode;
    mode.sendRecv = s.WriteUsesSendRecv;
    mode.iso15765SendRecv = s.DasProfile || s.XentryProfile || (s.OdisProfile && g_config.Odis.UseSendRecvIso15765) ||
                            (IsPcmflashCompatActive(s) && s.PCMflash.UseSendRecvIso15765);
    mode.udsApduOnly = s.UdsApduOnly;
    mode.xentryProfile = s.XentryProfile;
    return mode;
}

DpduResult Dpdu_Send(uint32_t linkId, const uint8_t* data, uint32_t length, uint32_t timeoutMs,
                     const DpduSendMode& mode) {
    if (g_backend.commLost.load()) return DpduFailure(DpduStatus::CommLost, "Dpdu_Send: comm lost");
    DpduLink link;
    if (!LookupLink(linkId, &link)) return DpduFailure(DpduStatus::Failed, "Dpdu_Send: invalid link handle");
    if (!data || length == 0) return DpduFailure(DpduStatus::Failed, "Dpdu_Send: no data");
    // Raw-mode links take the bytes as they are; only the others may need them adjusted.
    uint8_t scratch[kHeaderAndSingleFrame];
    uint32_t size = length;
    const uint8_t* bytes = link.rawMode ? data : AdjustForBackend(link, mode, data, &size, scratch);
    const bool sendRecvWanted = mode.sendRecv;
    const bool useSendRecv = sendRecvWanted && (!link.iso15765 || mode.iso15765SendRecv);
    if (link.iso15765 && sendRecvWanted)
        WriteLogLine(useSendRecv ? "Dpdu_Send: ISO15765 -> using SENDRECV (profile)"
                                 : "Dpdu_Send: ISO15765 -> forcing send-only (no SENDRECV wait)");
    PDU_COP_CTRL_DATA control = {};
    control.Time = timeoutMs != 0 ? timeoutMs : 1000;
    control.NumSendCycles = 1;
    control.NumReceiveCycles = useSendRecv ? 1 : 0;
    control.TempParamUpdate = 0;
    control.TxFlag = {0, nullptr};
    control.NumPossibleExpectedResponses = 1;
    control.pExpectedResponseArray = &g_expectedResponse;
    uint32_t hCoP = 0;
    const uint32_t code = CallPDUStartComPrimitive(link.hMod, link.hCLL, PDU_COPT_SENDRECV,
                                                   size, const_cast<uint8_t*>(bytes), &control, &hCoP);
    if (code != PDU_STATUS_NOERROR) {
        const size_t shown = size < 32 ? size : 32;
        const std::string text = "PDUStartComPrimitive(SENDRECV-sendonly) failed with error " + PduCodeText(code) +
                                 " | tx[0.." + std::to_string(shown) + "]=" + FormatHexBytes(bytes, shown);
        WriteLogLine(text);
        if (!MeansCommLost(code)) return DpduFailure(DpduStatus::Failed, text, code);
        MarkCommLost("StartComPrimitive", code);
        Dpdu_Shutdown();
        return DpduFailure(DpduStatus::CommLost, text, code);
    }
    if (LogActive()) LogPrintf("Dpdu_Send: link=%u bytes=%u hCoP=%u", linkId, size, hCoP);
    return {};
}

DpduResult Dpdu_Receive(uint32_t linkId, DpduPayload* out, uint32_t timeoutMs) {
    out->length = 0;
    DpduLink link;
    if (!LookupLink(linkId, &link)) return DpduFailure(DpduStatus::Failed, "Dpdu_Receive: invalid link handle");
    const bool trx = CurrentBackendType() == BackendType::TRX4820;
    bool sawNoResponse = false;
    // The clock is read only once the first poll found no result: an answer that is already
    // there costs no look at it.
    std::chrono::steady_clock::time_point deadline;
    for (bool first = true;; first = false) {
        uint32_t code = 0;
        const Polled polled = PollEvent(linkId, link, trx, out, &sawNoResponse, &code);
        if (polled == Polled::Result) return {};
        if (polled == Polled::CommLost) return DpduFailure(DpduStatus::CommLost, "Dpdu_Receive: comm lost", code);
        if (first) deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs ? timeoutMs : 1);
        if (polled == Polled::Empty) platform::PollPauseUs(kEmptyPollPauseUs);
        if (std::chrono::steady_clock::now() >= deadline) break;
    }
    return DpduFailure(DpduStatus::Timeout, sawNoResponse ? "Dpdu_Receive: no response (0x105/0x208)" : "");
}

DpduResult Dpdu_TakeReady(uint32_t linkId, DpduPayload* out) {
    out->length = 0;
    DpduLink link;
    if (!LookupLink(linkId, &link)) return DpduFailure(DpduStatus::Failed, "Dpdu_Receive: invalid link handle");
    const bool trx = CurrentBackendType() == BackendType::TRX4820;
    bool sawNoResponse = false;
    for (unsigned items = 0; items < kMostItemsPerTake; ++items) {
        uint32_t code = 0;
        switch (PollEvent(linkId, link, trx, out, &sawNoResponse, &code)) {
            case Polled::Result: return {};
            case Polled::CommLost: return DpduFailure(DpduStatus::CommLost, "Dpdu_Receive: comm lost", code);
            case Polled::Empty: return DpduFailure(DpduStatus::Timeout, "");
            case Polled::Other: break;
        }
    }
    return DpduFailure(DpduStatus::Timeout, "");
}

DpduResult Dpdu_ReadVBatt(uint32_t moduleId, uint32_t* milliVolts) {
    if (milliVolts) *milliVolts = 0;
    uint32_t hMod = 0;
    if (!LookupModule(moduleId, &hMod)) return DpduFailure(DpduStatus::Failed, "Dpdu_ReadVBatt: invalid module handle");
    uint32_t id = PDU_ID_UNDEF;
    uint32_t exceptionCode = 0;
    uint32_t code = GuardedGetObjectId(PDU_OBJT_IO_CTRL, "PDU_IOCTL_READ_VBATT", &id, &exceptionCode);
    if (code == PDU_STATUS_NOERROR && (id == PDU_HANDLE_UNDEF || id == PDU_ID_UNDEF)) code = PDU_ERR_ID_NOT_SUPPORTED;
    if (code != PDU_STATUS_NOERROR)
        return DpduFailure(DpduStatus::Failed, "Dpdu_ReadVBatt: PDUGetObjectId failed: " + PduCodeText(code), code);
    PDU_DATA_ITEM* output = nullptr;
    code = GuardedIoCtl(hMod, id, nullptr, &output);
    if (code != PDU_STATUS_NOERROR || !output) {
        ReleaseItem(output);
        return DpduFailure(DpduStatus::Failed, "Dpdu_ReadVBatt: PDUIoCtl failed: " + PduCodeText(code), code);
    }
    const bool usable = output->ItemType == PDU_IT_IO_UNUM32 && output->pData;
    if (usable && milliVolts) *milliVolts = *static_cast<const uint32_t*>(output->pData);
    ReleaseItem(output);
    if (!usable) return DpduFailure(DpduStatus::Failed, "Dpdu_ReadVBatt: unexpected output item type");
    return {};
}
