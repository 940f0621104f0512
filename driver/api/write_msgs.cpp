// PassThruWriteMsgs: validation, NoEcu suppression, the profile quirks and the ISO 15765
// translation, then each message to one transport (D-PDU link, software ISO-TP, DoIP client).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/big_endian.h"
#include "common/protocols.h"
#include "driver/api/api_impl.h"
#include "driver/api/das_profile.h"
#include "driver/api/device.h"
#include "driver/api/last_error.h"
#include "driver/config/driver_config.h"
#include "driver/config/host_profile.h"
#include "driver/log/log.h"
#include "driver/doip/doip_client.h"
#include "driver/dpdu/dpdu_backend.h"
#include "driver/iso15765/iso15765.h"
#include "driver/iso15765/sw_isotp.h"
#include "platform/platform.h"

namespace {

constexpr size_t kRecordHeaderSize = offsetof(j2534::PASSTHRU_MSG, Data);
std::atomic<bool> g_canIdInDataLogged{false};

// An application that sends its own flow control does not want the driver's.
bool IsApplicationFlowControl(const TxMessage& msg) {
    if (msg.canIdInData) return msg.length >= 5 && msg.data()[4] == j2534::kIsoTpFlowControlCts;
    return msg.length >= 1 && msg.data()[0] == j2534::kIsoTpFlowControlCts;
}

void SwitchOffAutoFlowControl(uint32_t channelId) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    if (ChannelContext* live = FindChannel(channelId)) live->autoFlowControl = false;
}

void WriteCount(uint32_t* pNumMsgs, uint32_t count) { platform::CopyGuarded(pNumMsgs, &count, sizeof count); }

// Who asks for the write: the host, or the receive path with its automatic flow control.
enum class Origin { Host, DriverFlowControl };

// One record: 0 to go on (sent or skipped), else the code that ends the call.
struct Writer {
    uint32_t channelId;
    uint32_t timeout;
    Origin origin;
    ChannelState ch;
    bool moduleOpen;
    uint32_t sent = 0;

    int32_t Write(j2534::PASSTHRU_MSG* hostRecord, TxMessage& msg, TxPlan& plan) {
        j2534::PASSTHRU_MSG header;
        if (!platform::CopyGuarded(&header, hostRecord, kRecordHeaderSize)) {
            SetLastErrorText("Invalid message: record not readable");
            return j2534::ERR_INVALID_MSG;
        }
        if (header.DataSize == 0) return j2534::STATUS_NOERROR;
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
        if (!platform::CopyGuarded(ResetTxMessage(&msg, header.DataSize, header.TxFlags), hostRecord->Data, header.DataSize)) {
            SetLastErrorText("Invalid message: record not readable");
            return j2534::ERR_INVALID_MSG;
        }
        if (LogActive())
            LogPrintf("PassThruWriteMsgs: proto=0x%lX txFlags=0x%lX dataSize=%lu data=%s",
                      static_cast<unsigned long>(header.ProtocolID), static_cast<unsigned long>(header.TxFlags),
                      static_cast<unsigned long>(header.DataSize), FormatHexBytes(msg.data(), msg.length).c_str());

        if (ch.kind == 1) return WriteDoip(msg);

        if (j2534::IsIso15765Protocol(ch.protocolId) && msg.canIdInData && !g_canIdInDataLogged.exchange(true))
            WriteLogLine("[Compat] CAN_ID_IN_DATA detected on ISO15765 channel (no profile switch)");
        if (g_config.DasProfile && !g_config.PcmflashProfile) InjectDasWakeup(ch, moduleOpen);
        if (origin == Origin::Host && j2534::IsIso15765Protocol(ch.protocolId) && IsApplicationFlowControl(msg))
            SwitchOffAutoFlowControl(channelId);

        int32_t rc = PrepareIso15765Tx(ch, msg, &plan);
        if (msg.headerRewritten) platform::CopyGuarded(hostRecord->Data, msg.data(), 4);
        if (rc != j2534::STATUS_NOERROR) return rc;

        if (plan.softwareIsoTp) {
            std::string failure;
            rc = SwIsoTpSendOnChannel(ch, msg.data(), msg.length, msg.canIdInData, timeout != 0 ? timeout : 1000,
                                      &failure);
            if (rc != j2534::STATUS_NOERROR) {
                if (!failure.empty()) SetLastErrorText(failure);
                return rc;
            }
            ++sent;
            return j2534::STATUS_NOERROR;
        }

        if (LogActive())
            LogPrintf("Dpdu_Send: bytes=%lu data=%s", static_cast<unsigned long>(plan.length),
                      FormatHexBytes(plan.bytes, plan.length).c_str());
        std::string error;
        if (!Dpdu_Send(ch.linkHandle, plan.bytes, plan.length, timeout, &error)) {
            if (!error.empty()) SetLastErrorText(error);
            return FailWithCount();
        }
        ++sent;
        return j2534::STATUS_NOERROR;
    }

    // The data go to the gateway as they stand; the copy's reference keeps the client alive.
    int32_t WriteDoip(const TxMessage& msg) {
        if (!ch.doip) {
            SetLastErrorText("NativeDoIP channel not initialized");
            return FailWithCount();
        }
        std::string error;
        if (!DoipSendDiagnostic(ch.doip.get(), msg.data(), msg.length, &error)) {
            if (!error.empty()) SetLastErrorText(error);
            return FailWithCount();
        }
        ++ch.doipTxCount;
        ++sent;
        return j2534::STATUS_NOERROR;
    }

    // A transport failure: the host still learns how many messages went out before it.
    int32_t FailWithCount() {
        reportCount = true;
        return j2534::ERR_FAILED;
    }
    bool reportCount = false;
};

int32_t WriteMessages(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs, uint32_t Timeout,
                      Origin origin) {
    if (!pMsg || !pNumMsgs) return j2534::ERR_NULL_PARAMETER;
    LogPrintf("WriteMsgs ENTRY: pMsg=%p pNumMsgs=%p Timeout=%lu", static_cast<void*>(pMsg),
              static_cast<void*>(pNumMsgs), static_cast<unsigned long>(Timeout));
    if (reinterpret_cast<uintptr_t>(pMsg) < 0x10000) {
        SetLastErrorText("PassThruWriteMsgs: pMsg pointer too small (ABI mismatch)");
        return j2534::ERR_NULL_PARAMETER;
    }
    Writer w{ChannelID, Timeout, origin, {}, false};
    {
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
        const ChannelContext* live = FindChannel(ChannelID);
        if (!live) return j2534::ERR_INVALID_CHANNEL_ID;
        w.ch = *live;
    }
    uint32_t count = 0;
    if (!platform::CopyGuarded(&count, pNumMsgs, sizeof count)) {
        SetLastErrorText("Invalid message count pointer");
        return j2534::ERR_INVALID_MSG;
    }
    if (g_config.Bench.NoEcuMode && w.ch.kind == 0) {
        const char* why = w.ch.linkHandle == 0 ? "no link" : g_oemKind == OemKind::VwOdis ? "VW/ODIS" : nullptr;
        if (why) {
            WriteCount(pNumMsgs, count);
            LogPrintf("NoEcuMode: DPDU TX suppressed (%s) count=%lu", why, static_cast<unsigned long>(count));
            return j2534::STATUS_NOERROR;
        }
    }
    LogPrintf("WriteMsgs COUNT: %lu", static_cast<unsigned long>(count));
    if (count == 0) return j2534::ERR_NULL_PARAMETER;

    TxMessage msg;
    TxPlan plan;
    const ChannelState before = w.ch;
    int32_t rc = j2534::STATUS_NOERROR;
    for (uint32_t i = 0; i < count && rc == j2534::STATUS_NOERROR; ++i) rc = w.Write(pMsg + i, msg, plan);
    WriteBackChannelState(before, w.ch);
    if (rc == j2534::STATUS_NOERROR) {
        WriteCount(pNumMsgs, w.sent);
        return w.sent > 0 ? j2534::STATUS_NOERROR : j2534::ERR_FAILED;
    }
    if (w.reportCount) WriteCount(pNumMsgs, w.sent);
    return rc;
}

}  // namespace

int32_t PassThruWriteMsgsImpl(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs, uint32_t Timeout) {
    return WriteMessages(ChannelID, pMsg, pNumMsgs, Timeout, Origin::Host);
}

int32_t WriteDriverFlowControl(uint32_t ChannelID, j2534::PASSTHRU_MSG* msg) {
    uint32_t one = 1;
    return WriteMessages(ChannelID, msg, &one, 0, Origin::DriverFlowControl);
}
