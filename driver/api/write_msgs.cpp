// PassThruWriteMsgs: validation, NoEcu suppression, the profile quirks and the ISO 15765
// translation, then each message to one transport (a link of the VCI, software ISO-TP, the DoIP
// client).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/protocols.h"
#include "driver/api/api_impl.h"
#include "driver/api/capture_hooks.h"
#include "driver/api/das_profile.h"
#include "driver/api/device.h"
#include "driver/api/host_message.h"
#include "driver/api/last_error.h"
#include "driver/api/sw_isotp_channel.h"
#include "driver/config/driver_config.h"
#include "driver/doip/doip_client.h"
#include "driver/dpdu/dpdu_backend.h"
#include "driver/iso15765/iso15765.h"
#include "driver/log/log.h"
#include "platform/platform.h"

namespace {

std::atomic<bool> g_canIdInDataLogged{false};

// An application that sends its own flow control does not want the driver's.
bool IsApplicationFlowControl(const TxMessage& msg) {
    if (msg.canIdInData) return msg.length >= 5 && msg.data()[4] == j2534::kIsoTpFlowControlCts;
    return msg.length >= 1 && msg.data()[0] == j2534::kIsoTpFlowControlCts;
}

void SwitchOffAutoFlowControl(uint32_t channelId) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    if (ChannelContext* live = FindChannel(channelId)) live->rx.autoFlowControl = false;
}

void WriteCount(j2534::ULONG* pNumMsgs, uint32_t count) { WriteHostWord(pNumMsgs, count); }

// Who asks for the write: the host, or the receive path with its automatic flow control.
enum class Origin { Host, DriverFlowControl };

// The messages of one call, each to its transport on a copy of the channel's state.
struct Writer {
    uint32_t channelId = 0;
    uint32_t timeout = 0;
    Origin origin = Origin::Host;
    ChannelState ch;
    SessionProfile session;
    bool moduleOpen = false;
    Iso15765Rules rules;
    DpduSendMode mode;
    j2534::PASSTHRU_MSG header;  // of the record being written; its data go straight into the message
    uint32_t sent = 0;
    bool reportCount = false;  // a transport failure: the host still learns how many went out

    // The host's record, as read into header and msg, checked: STATUS_NOERROR with *skip for an
    // empty one, else the code that ends the call.
    int32_t TakeRecord(HostRecordRead read, TxMessage& msg, bool* skip) {
        *skip = false;
        if (read == HostRecordRead::Nothing) {
            SetLastErrorText("Invalid message: record not readable");
            return j2534::ERR_INVALID_MSG;
        }
        *skip = header.DataSize == 0;
        if (*skip) return j2534::STATUS_NOERROR;
        if (header.DataSize > j2534::kMaxDataSize) {
            SetLastErrorText("Invalid message: DataSize exceeds buffer");
            return j2534::ERR_INVALID_MSG;
        }
        if (!j2534::SameProtocolFamily(header.ProtocolID, ch.protocolId)) {
            SetLastErrorText("Invalid message: ProtocolID does not match the channel");
            return j2534::ERR_MSG_PROTOCOL_ID;
        }
        if (j2534::IsRawCanProtocol(ch.protocolId) && header.DataSize < j2534::kCanIdHeaderSize) {
            SetLastErrorText("Invalid message: DataSize below the CAN-ID header");
            return j2534::ERR_INVALID_MSG;
        }
        ResetTxMessage(&msg, header.DataSize, header.TxFlags);
        if (read != HostRecordRead::Whole) {
            SetLastErrorText("Invalid message: record not readable");
            return j2534::ERR_INVALID_MSG;
        }
        if (LogActive())
            LogPrintf("PassThruWriteMsgs: proto=0x%lX txFlags=0x%lX dataSize=%lu data=%s",
                      static_cast<unsigned long>(header.ProtocolID), static_cast<unsigned long>(header.TxFlags),
                      static_cast<unsigned long>(header.DataSize), FormatHexBytes(msg.data(), msg.length).c_str());
        return j2534::STATUS_NOERROR;
    }

    // The translation, with the ids handed to the VCI when it asks for that; a rewritten
    // functional header goes back into the host's record.
    int32_t Translate(j2534::PASSTHRU_MSG* hostRecord, TxMessage& msg, TxPlan& plan) {
        const Iso15765Link link = Iso15765LinkOf(ch);
        int32_t rc = PrepareIso15765Tx(link, ch.iso, rules, msg, &plan);
        if (rc == j2534::STATUS_NOERROR && plan.setIds) {
            const bool accepted = Dpdu_SetIso15765Ids(ch.link.handle, plan.idsTx, plan.idsRx);
            rc = CompleteIso15765Tx(accepted, ch.iso, rules, msg, &plan);
        }
        if (msg.headerRewritten) platform::CopyGuarded(hostRecord->Data, msg.data(), 4);
        return rc;
    }

    int32_t Write(j2534::PASSTHRU_MSG* hostRecord, HostRecordRead read, TxMessage& msg, TxPlan& plan) {
        bool skip = false;
        int32_t rc = TakeRecord(read, msg, &skip);
        if (rc != j2534::STATUS_NOERROR || skip) return rc;
        if (ch.link.transport == ChannelTransport::NativeDoip) return WriteDoip(msg);

        const bool iso = j2534::IsIso15765Protocol(ch.protocolId);
        if (iso && msg.canIdInData && !g_canIdInDataLogged.load() && !g_canIdInDataLogged.exchange(true))
            WriteLogLine("[Compat] CAN_ID_IN_DATA detected on ISO15765 channel (no profile switch)");
        if (session.DasProfile && !session.PcmflashProfile) InjectDasWakeup(ch, session, moduleOpen);
        if (origin == Origin::Host && iso && IsApplicationFlowControl(msg)) SwitchOffAutoFlowControl(channelId);

        rc = Translate(hostRecord, msg, plan);
        if (rc != j2534::STATUS_NOERROR) return rc;
        return plan.softwareIsoTp ? WriteSoftwareIsoTp(msg) : WriteToLink(msg, plan);
    }

    int32_t WriteSoftwareIsoTp(const TxMessage& msg) {
        std::string failure;
        const int32_t rc =
            SwIsoTpSendOnChannel(ch, mode, IsPcmflashCompatActive(session), msg.data(), msg.length,
                                 msg.canIdInData, timeout != 0 ? timeout : 1000, &failure);
        if (rc != j2534::STATUS_NOERROR) {
            if (!failure.empty()) SetLastErrorText(failure);
            return rc;
        }
        ++sent;
        return j2534::STATUS_NOERROR;
    }

    int32_t WriteToLink(const TxMessage& msg, const TxPlan& plan) {
        if (LogActive())
            LogPrintf("Dpdu_Send: bytes=%lu data=%s", static_cast<unsigned long>(plan.length),
                      FormatHexBytes(plan.bytes, plan.length).c_str());
        const DpduResult result = Dpdu_Send(ch.link.handle, plan.bytes, plan.length, timeout, mode);
        if (!result.ok()) {
            if (!result.text.empty()) SetLastErrorText(result.text);
            return FailWithCount();
        }
        if (CaptureOn()) CaptureOut(ch, msg.data(), msg.length, msg.canIdInData, Sender());
        ++sent;
        return j2534::STATUS_NOERROR;
    }

    // The data go to the gateway as they stand; the copy's reference keeps the client alive.
    int32_t WriteDoip(const TxMessage& msg) {
        if (!ch.link.doip) {
            SetLastErrorText("NativeDoIP channel not initialized");
            return FailWithCount();
        }
        std::string error;
        if (!DoipSendDiagnostic(ch.link.doip.get(), msg.data(), msg.length, &error)) {
            if (!error.empty()) SetLastErrorText(error);
            return FailWithCount();
        }
        if (CaptureOn()) CaptureOut(ch, msg.data(), msg.length, false, Sender());
        ++ch.tx.doipTxCount;
        ++sent;
        return j2534::STATUS_NOERROR;
    }

    CaptureSender Sender() const {
        return origin == Origin::DriverFlowControl ? CaptureSender::AutoFlowControl : CaptureThreadSender();
    }

    int32_t FailWithCount() {
        reportCount = true;
        return j2534::ERR_FAILED;
    }
};

// Under the lock: the device open, the VCI not lost, the channel and the session copied.
int32_t TakeSnapshot(Writer& w) {
    std::unique_lock<std::mutex> lock(g_deviceLock);
    int32_t rc = CheckDeviceOpen(0, "PassThruWriteMsgs");
    if (rc != j2534::STATUS_NOERROR) return rc;
    if (Dpdu_IsCommLost()) {
        SetLastErrorText("VCI communication lost");
        lock.unlock();
        HandleCommLost("PassThruWriteMsgs");
        return j2534::ERR_FAILED;
    }
    w.moduleOpen = g_device.moduleConnected;
    const ChannelContext* live = FindChannel(w.channelId);
    if (!live) return j2534::ERR_INVALID_CHANNEL_ID;
    w.ch = *live;
    w.session = g_device.session;
    w.rules = g_device.isoRules;
    w.mode = g_device.sendMode;
    return j2534::STATUS_NOERROR;
}

// NoEcu mode sends nothing on a channel without a link, nor for VW/ODIS hosts.
bool SuppressedByNoEcu(const Writer& w, uint32_t count) {
    if (!w.session.NoEcuMode || w.ch.link.transport == ChannelTransport::NativeDoip) return false;
    const char* why = !w.ch.link.OnVci() ? "no link" : w.session.Oem == OemKind::VwOdis ? "VW/ODIS" : nullptr;
    if (!why) return false;
    LogPrintf("NoEcuMode: DPDU TX suppressed (%s) count=%lu", why, static_cast<unsigned long>(count));
    return true;
}

int32_t WriteMessages(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs, uint32_t Timeout,
                      Origin origin) {
    if (!pMsg || !pNumMsgs) return j2534::ERR_NULL_PARAMETER;
    if (LogActive())
        LogPrintf("WriteMsgs ENTRY: pMsg=%p pNumMsgs=%p Timeout=%lu", static_cast<void*>(pMsg),
                  static_cast<void*>(pNumMsgs), static_cast<unsigned long>(Timeout));
    if (reinterpret_cast<uintptr_t>(pMsg) < 0x10000) {
        SetLastErrorText("PassThruWriteMsgs: pMsg pointer too small (ABI mismatch)");
        return j2534::ERR_NULL_PARAMETER;
    }
    Writer w;
    w.channelId = ChannelID;
    w.timeout = Timeout;
    w.origin = origin;
    int32_t rc = TakeSnapshot(w);
    if (rc != j2534::STATUS_NOERROR) return rc;
    // The data land behind room for a forced CAN-id prefix, as ResetTxMessage places them.
    TxMessage msg;
    const HostWriteStart start = ReadHostWriteStart(pNumMsgs, pMsg, &w.header, msg.buffer + 4);
    const uint32_t count = start.count;
    if (!start.countRead) {
        SetLastErrorText("Invalid message count pointer");
        return j2534::ERR_INVALID_MSG;
    }
    if (SuppressedByNoEcu(w, count)) {
        WriteCount(pNumMsgs, count);
        return j2534::STATUS_NOERROR;
    }
    if (LogActive()) LogPrintf("WriteMsgs COUNT: %lu", static_cast<unsigned long>(count));
    if (count == 0) return j2534::ERR_NULL_PARAMETER;

    TxPlan plan;
    const ChannelTxRecords before{w.ch.iso, w.ch.tx};
    for (uint32_t i = 0; i < count && rc == j2534::STATUS_NOERROR; ++i) {
        const HostRecordRead read = i == 0 ? start.first : ReadHostRecord(pMsg + i, &w.header, msg.buffer + 4);
        rc = w.Write(pMsg + i, read, msg, plan);
    }
    WriteBackChannelState(before, w.ch);
    if (rc == j2534::STATUS_NOERROR) {
        // The host's word already holds the count when every message went out.
        if (w.sent != count) WriteCount(pNumMsgs, w.sent);
        return w.sent > 0 ? j2534::STATUS_NOERROR : j2534::ERR_FAILED;
    }
    if (w.reportCount) WriteCount(pNumMsgs, w.sent);
    return rc;
}

}  // namespace

int32_t PassThruWriteMsgsImpl(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs, uint32_t Timeout) {
    return WriteMessages(ChannelID, pMsg, pNumMsgs, Timeout, Origin::Host);
}

int32_t WriteDriverFlowControl(uint32_t ChannelID, j2534::PASSTHRU_MSG* msg) {
    j2534::ULONG one = 1;
    return WriteMessages(ChannelID, msg, &one, 0, Origin::DriverFlowControl);
}
