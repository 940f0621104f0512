// PassThruReadMsgs: at most one message per call from the channel's transport, with the CAN id
// put back, the channel's filters, and an automatic flow control for ISO 15765 first frames.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "common/big_endian.h"
#include "common/protocols.h"
#include "driver/api/api_impl.h"
#include "driver/api/capture_hooks.h"
#include "driver/api/device.h"
#include "driver/api/filters.h"
#include "driver/api/last_error.h"
#include "driver/api/sw_isotp_channel.h"
#include "driver/config/driver_config.h"
#include "driver/config/host_profile.h"
#include "driver/log/log.h"
#include "driver/doip/doip_client.h"
#include "driver/dpdu/dpdu_backend.h"
#include "driver/iso15765/iso15765.h"
#include "platform/platform.h"

namespace {

constexpr size_t kRecordHeaderSize = offsetof(j2534::PASSTHRU_MSG, Data);
constexpr uint32_t kBenchMessageIntervalMs = 500;
constexpr uint64_t kAutoFlowControlRepeatMs = 50;

int32_t NothingReceived(uint32_t timeout) { return timeout == 0 ? j2534::ERR_BUFFER_EMPTY : j2534::ERR_TIMEOUT; }

struct Reader {
    uint32_t channelId;
    uint32_t timeout;
    ChannelState ch;
    SessionProfile session;
    j2534::PASSTHRU_MSG out;  // the message being built; handed to the host when it is returned
    DpduPayload payload;      // what the link of the VCI gave

    void Clear() { std::memset(&out, 0, kRecordHeaderSize); }

    // The bench stand-in for a vehicle: CAN id 0x100 with eight zero bytes, every 500 ms.
    bool TakeBenchMessage() {
        const uint32_t now = platform::TickCount32();
        {
            std::lock_guard<std::mutex> lock(g_deviceLock);
            ChannelContext* live = FindChannel(channelId);
            if (!live || now - live->rx.benchSynthTick < kBenchMessageIntervalMs) return false;
            live->rx.benchSynthTick = now;
        }
        Clear();
        out.ProtocolID = ch.protocolId;
        out.Timestamp = now;
        out.DataSize = 12;
        std::memset(out.Data, 0, 12);
        out.Data[2] = 0x01;
        return true;
    }

    // Filters, the response id learnt from a received header, and the decision to answer a
    // first frame, under one lock; the flow control itself is written after the lock is
    // released. A first frame repeated within 50 ms is answered once, but only until a
    // consecutive frame shows that its transfer went on: the next first frame is then a new
    // message and gets its own answer.
    bool Accept(bool* sendFlowControl, uint32_t* fcTxId, uint32_t learntRxId = 0) {
        *sendFlowControl = false;
        const bool iso = j2534::IsIso15765Protocol(ch.protocolId);
        const bool hasPci = out.DataSize >= 5;
        const bool firstFrame = iso && out.DataSize >= 7 && j2534::IsoTpTypeOf(out.Data[4]) == j2534::IsoTpFrameType::First;
        const bool consecutive = iso && hasPci && j2534::IsoTpTypeOf(out.Data[4]) == j2534::IsoTpFrameType::Consecutive;
        const uint32_t rxId = out.DataSize >= 4 ? ReadBigEndian32(out.Data) & j2534::kCanIdMask : 0;
        const uint64_t now = firstFrame ? platform::TickCount64() : 0;
        std::lock_guard<std::mutex> lock(g_deviceLock);
        ChannelContext* live = FindChannel(channelId);
        if (!live) return false;
        if (learntRxId != 0) live->iso.expectedRxId = learntRxId;
        if (consecutive && live->rx.lastFfRxId == rxId) live->rx.lastFfRxId = 0;
        if (firstFrame && live->rx.autoFlowControl &&
            !(live->rx.lastFfRxId == rxId && now - live->rx.lastAutoFcTick < kAutoFlowControlRepeatMs)) {
            live->rx.lastFfRxId = rxId;
            live->rx.lastAutoFcTick = now;
            uint32_t tx = live->iso.lastTxCanId;
            if (tx == 0) tx = rxId - 8 <= 0x7F7 ? rxId - 8 : rxId;
            *fcTxId = tx;
            *sendFlowControl = true;
        }
        return PassesFilters(live->filters, out);
    }

    void SendAutoFlowControl(uint32_t txId, uint32_t rxId) {
        j2534::PASSTHRU_MSG fc;
        std::memset(&fc, 0, kRecordHeaderSize + 7);
        fc.ProtocolID = ch.protocolId;
        fc.TxFlags = j2534::ISO15765_FRAME_PAD;
        fc.DataSize = 7;
        WriteBigEndian32(fc.Data, txId);
        fc.Data[4] = j2534::kIsoTpFlowControlCts;
        const int32_t rc = WriteDriverFlowControl(channelId, &fc);
        if (rc != j2534::STATUS_NOERROR)
            LogPrintf("ISO15765: Auto-FC failed wrc=%lX", static_cast<unsigned long>(rc));
        else
            LogPrintf("ISO15765: Auto-FC sent (txId=%lX, rxId=%lX)", static_cast<unsigned long>(txId),
                      static_cast<unsigned long>(rxId));
    }

    // A received or bench message through automatic flow control and the filters.
    int32_t Deliver(uint32_t* count, uint32_t learntRxId = 0) {
        bool sendFc = false;
        uint32_t fcTxId = 0;
        const bool accepted = Accept(&sendFc, &fcTxId, learntRxId);
        if (sendFc) SendAutoFlowControl(fcTxId, ReadBigEndian32(out.Data) & j2534::kCanIdMask);
        if (!accepted) {
            *count = 0;
            return NothingReceived(timeout);
        }
        *count = 1;
        return j2534::STATUS_NOERROR;
    }

    int32_t ReadDpdu(uint32_t* count) {
        if (!ch.link.OnVci()) return ReadWithoutLink(count);
        const DpduResult received = Dpdu_Receive(ch.link.handle, &payload, timeout);
        if (!received.ok()) {
            *count = 0;
            if (!received.text.empty()) SetLastErrorText(received.text);
            if (received.status == DpduStatus::CommLost) {
                HandleCommLost("PassThruReadMsgs");
                return j2534::ERR_FAILED;
            }
            if (BenchMessagesWanted() && TakeBenchMessage()) return Deliver(count);
            return NothingReceived(timeout);
        }
        const uint32_t knownRxId = ch.iso.expectedRxId;
        Clear();
        out.ProtocolID = ch.protocolId;
        const bool kept = RestoreRxCanId(Iso15765LinkOf(ch), ch.iso, Iso15765RulesFor(g_config, session),
                                         payload.bytes, payload.length, out.Data, &out.DataSize);
        const uint32_t learnt = ch.iso.expectedRxId != knownRxId ? ch.iso.expectedRxId : 0;
        if (!kept) {  // dropped for its response id: nothing was learnt from it
            *count = 0;
            return NothingReceived(timeout);
        }
        if (CaptureOn()) CaptureIn(ch, out.Data, out.DataSize, true);
        return Deliver(count, learnt);
    }

    bool BenchMessagesWanted() const {
        return g_config.Bench.BenchEnabled && !session.NoEcuMode &&
               (ch.protocolId == j2534::CAN || ch.protocolId == j2534::ISO15765);
    }

    // A channel without a link (bench mode without a VCI) has nothing to poll: it waits out the
    // time-out like a quiet bus, and in bench mode hands out the bench message when it is due.
    int32_t ReadWithoutLink(uint32_t* count) {
        const uint64_t deadline = platform::TickCount64() + timeout;
        for (;;) {
            if (BenchMessagesWanted() && TakeBenchMessage()) return Deliver(count);
            const uint64_t now = platform::TickCount64();
            if (now >= deadline) break;
            platform::SleepMs(static_cast<uint32_t>(std::min<uint64_t>(deadline - now, 10)));
        }
        *count = 0;
        return NothingReceived(timeout);
    }

    // Diagnostic messages of the gateway as they come: no filters, no flow control.
    int32_t ReadDoip(uint32_t* count) {
        std::vector<uint8_t> data;
        std::string error;
        const DoipRx received = DoipReceive(ch.link.doip.get(), timeout, &data, &error);
        if (received != DoipRx::Message) {
            *count = 0;
            SetLastErrorText(error);
            if (timeout == 0 || received == DoipRx::TimedOut) return j2534::ERR_BUFFER_EMPTY;
            return j2534::ERR_TIMEOUT;
        }
        Clear();
        out.ProtocolID = ch.protocolId;
        out.Timestamp = platform::TickCount32();
        out.DataSize = static_cast<uint32_t>(std::min<size_t>(data.size(), j2534::kMaxDataSize));
        if (out.DataSize) std::memcpy(out.Data, data.data(), out.DataSize);
        if (CaptureOn()) CaptureIn(ch, data.data(), static_cast<uint32_t>(data.size()), false);
        *count = 1;
        return j2534::STATUS_NOERROR;
    }
};

// NoEcu mode: nothing is expected back; drain what arrived and answer with no message.
int32_t ReadNoEcu(uint32_t channelId, uint32_t timeout, OemKind oem, uint32_t* pNumMsgs) {
    const uint32_t wait = timeout == 0 ? 0 : std::min(timeout, g_config.Bench.NoEcuTimeoutMs);
    ChannelState ch;
    if (!CopyChannelState(channelId, &ch)) return j2534::ERR_INVALID_CHANNEL_ID;
    if (ch.link.OnVci() && oem != OemKind::VwOdis) {
        DpduPayload ignored;
        Dpdu_Receive(ch.link.handle, &ignored, wait);
    } else {
        platform::SleepMs(wait);
    }
    const uint32_t none = 0;
    platform::CopyGuarded(pNumMsgs, &none, sizeof none);
    return j2534::STATUS_NOERROR;
}

}  // namespace

int32_t PassThruReadMsgsImpl(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs, uint32_t Timeout) {
    uint32_t offered = 0;
    if (!pMsg || !pNumMsgs) return j2534::ERR_NULL_PARAMETER;
    if (!platform::CopyGuarded(&offered, pNumMsgs, sizeof offered)) {
        SetLastErrorText("Invalid message count pointer");
        return j2534::ERR_INVALID_MSG;
    }
    if (offered == 0) return j2534::ERR_NULL_PARAMETER;
    Reader r;
    r.channelId = ChannelID;
    r.timeout = Timeout;
    {
        std::unique_lock<std::mutex> lock(g_deviceLock);
        int32_t rc = CheckDeviceOpen(0, "PassThruReadMsgs");
        if (rc != j2534::STATUS_NOERROR) return rc;
        if (g_device.session.NoEcuMode) {
            const OemKind oem = g_device.session.Oem;
            lock.unlock();
            return ReadNoEcu(ChannelID, Timeout, oem, pNumMsgs);
        }
        if (Dpdu_IsCommLost()) {
            SetLastErrorText("VCI communication lost");
            lock.unlock();
            HandleCommLost("PassThruReadMsgs");
            return j2534::ERR_FAILED;
        }
        const ChannelContext* live = FindChannel(ChannelID);
        if (!live) return j2534::ERR_INVALID_CHANNEL_ID;
        r.ch = *live;
        r.session = g_device.session;
    }

    uint32_t count = 0;
    int32_t rc;
    const ChannelTransport transport = r.ch.link.transport;
    if (transport == ChannelTransport::NativeDoip && !r.ch.link.doip) {
        SetLastErrorText("NativeDoIP channel not initialized");
        return j2534::ERR_FAILED;
    }
    if (transport == ChannelTransport::NativeDoip)
        rc = r.ReadDoip(&count);
    else if (r.ch.protocolId == j2534::ISO15765 && transport == ChannelTransport::SoftwareIsoTp)
        rc = SwIsoTpReceiveOnChannel(r.ch, DpduSendModeFor(r.session), &r.out, &count, Timeout);
    else
        rc = r.ReadDpdu(&count);
    if (rc == j2534::ERR_INVALID_CHANNEL_ID) return rc;
    if (count == 1 && !platform::CopyGuarded(pMsg, &r.out, kRecordHeaderSize + r.out.DataSize)) {
        SetLastErrorText("Invalid message buffer");
        return j2534::ERR_NULL_PARAMETER;
    }
    platform::CopyGuarded(pNumMsgs, &count, sizeof count);
    return rc;
}
