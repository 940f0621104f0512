// PassThruReadMsgs: the first message as the host's Timeout allows, then every further one that
// the channel's transport already holds, up to the count the host asked for; each with the CAN id
// put back, the channel's filters, an automatic flow control for ISO 15765 first frames, and the
// microsecond time it was taken off its transport.
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
#include "driver/api/host_message.h"
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
// Messages the filters drop do not count towards the host's number, but a bus full of them must
// not keep a read from returning.
constexpr unsigned kMostSkippedPerRead = 1024;

int32_t NothingReceived(uint32_t timeout) { return timeout == 0 ? j2534::ERR_BUFFER_EMPTY : j2534::ERR_TIMEOUT; }

// What one take from the transport gave: a message for the host, one the filters dropped, or
// nothing.
enum class Take { Message, Skipped, Nothing };

struct Reader {
    uint32_t channelId;
    uint32_t timeout;
    ChannelState ch;
    SessionProfile session;
    Iso15765Rules rules;
    DpduSendMode mode;
    j2534::PASSTHRU_MSG out;  // the message being built; handed to the host when it is returned
    DpduPayload payload;      // what the link of the VCI gave
    bool tookAny = false;     // the first take found something, kept or not

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
        out.Timestamp = j2534::TimestampFromUs(platform::MonotonicUs());
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
    Take Deliver(uint32_t learntRxId = 0) {
        bool sendFc = false;
        uint32_t fcTxId = 0;
        const bool accepted = Accept(&sendFc, &fcTxId, learntRxId);
        if (sendFc) SendAutoFlowControl(fcTxId, ReadBigEndian32(out.Data) & j2534::kCanIdMask);
        return accepted ? Take::Message : Take::Skipped;
    }

    int32_t Answer(Take taken, uint32_t* count) const {
        *count = taken == Take::Message ? 1 : 0;
        return taken == Take::Message ? j2534::STATUS_NOERROR : NothingReceived(timeout);
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
            if (BenchMessagesWanted() && TakeBenchMessage()) return Answer(Deliver(), count);
            return NothingReceived(timeout);
        }
        tookAny = true;
        return Answer(FromPayload(), count);
    }

    // The payload as the host's message: its CAN id put back (or dropped for its response id,
    // and then nothing was learnt from it), through the filters.
    Take FromPayload() {
        const uint32_t knownRxId = ch.iso.expectedRxId;
        Clear();
        out.ProtocolID = ch.protocolId;
        uint32_t size = 0;
        const bool kept = RestoreRxCanId(Iso15765LinkOf(ch), ch.iso, rules,
                                         payload.bytes, payload.length, out.Data, &size);
        if (!kept) return Take::Skipped;
        out.DataSize = size;
        out.Timestamp = j2534::TimestampFromUs(payload.receivedUs);
        if (CaptureOn()) CaptureIn(ch, out.Data, out.DataSize, true, payload.receivedUs);
        return Deliver(ch.iso.expectedRxId != knownRxId ? ch.iso.expectedRxId : 0);
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
            if (BenchMessagesWanted() && TakeBenchMessage()) return Answer(Deliver(), count);
            const uint64_t now = platform::TickCount64();
            if (now >= deadline) break;
            platform::SleepMs(static_cast<uint32_t>(std::min<uint64_t>(deadline - now, 10)));
        }
        *count = 0;
        return NothingReceived(timeout);
    }

    // Diagnostic messages of the gateway as they come: no filters, no flow control.
    int32_t ReadDoip(uint32_t* count) {
        std::string error;
        const DoipRx received = TakeDoip(timeout, &error);
        if (received != DoipRx::Message) {
            *count = 0;
            SetLastErrorText(error);
            if (timeout == 0 || received == DoipRx::TimedOut) return j2534::ERR_BUFFER_EMPTY;
            return j2534::ERR_TIMEOUT;
        }
        *count = 1;
        return j2534::STATUS_NOERROR;
    }

    DoipRx TakeDoip(uint32_t waitMs, std::string* error) {
        std::vector<uint8_t> data;
        uint64_t receivedUs = 0;
        const DoipRx received = DoipReceive(ch.link.doip.get(), waitMs, &data, error, &receivedUs);
        if (received != DoipRx::Message) return received;
        Clear();
        out.ProtocolID = ch.protocolId;
        out.Timestamp = j2534::TimestampFromUs(receivedUs);
        out.DataSize = static_cast<uint32_t>(std::min<size_t>(data.size(), j2534::kMaxDataSize));
        if (out.DataSize) std::memcpy(out.Data, data.data(), out.DataSize);
        if (CaptureOn()) CaptureIn(ch, data.data(), static_cast<uint32_t>(data.size()), false, receivedUs);
        return received;
    }

    // The first message, as long as the host's Timeout allows.
    int32_t ReadFirst(uint32_t* count) {
        const ChannelTransport transport = ch.link.transport;
        if (transport == ChannelTransport::NativeDoip) return ReadDoip(count);
        if (UsesSoftwareIsoTp())
            return SwIsoTpReceiveOnChannel(ch, mode, &out, count, timeout,
                                           SwIsoTpWait::UpToTimeout);
        return ReadDpdu(count);
    }

    bool UsesSoftwareIsoTp() const {
        return ch.protocolId == j2534::ISO15765 && ch.link.transport == ChannelTransport::SoftwareIsoTp;
    }

    // One more message that the transport already holds, without waiting.
    Take TakeReady() {
        if (ch.link.transport == ChannelTransport::NativeDoip) {
            std::string error;
            return TakeDoip(0, &error) == DoipRx::Message ? Take::Message : Take::Nothing;
        }
        if (UsesSoftwareIsoTp()) {
            uint32_t count = 0;
            SwIsoTpReceiveOnChannel(ch, mode, &out, &count, 0, SwIsoTpWait::ReadyFramesOnly);
            return count == 1 ? Take::Message : Take::Nothing;
        }
        if (!ch.link.OnVci()) return Take::Nothing;
        const DpduResult received = Dpdu_TakeReady(ch.link.handle, &payload);
        if (received.ok()) return FromPayload();
        if (received.status == DpduStatus::CommLost) HandleCommLost("PassThruReadMsgs");
        return Take::Nothing;
    }

    // Further messages into the host's array from dest on, at most room of them, each written
    // as soon as it is taken; a part of the array that cannot be written ends the read.
    uint32_t ReadReady(j2534::PASSTHRU_MSG* dest, uint32_t room) {
        uint32_t written = 0;
        for (unsigned skipped = 0; written < room && skipped < kMostSkippedPerRead;) {
            const Take taken = TakeReady();
            if (taken == Take::Nothing) break;
            if (taken == Take::Skipped) {
                ++skipped;
                continue;
            }
            if (!platform::CopyGuarded(dest + written, &out, kRecordHeaderSize + out.DataSize)) break;
            ++written;
        }
        return written;
    }
};

// NoEcu mode: nothing is expected back; drain what arrived and answer with no message.
int32_t ReadNoEcu(uint32_t channelId, uint32_t timeout, OemKind oem, j2534::ULONG* pNumMsgs) {
    const uint32_t wait = timeout == 0 ? 0 : std::min(timeout, g_config.Bench.NoEcuTimeoutMs);
    ChannelState ch;
    if (!CopyChannelState(channelId, &ch)) return j2534::ERR_INVALID_CHANNEL_ID;
    if (ch.link.OnVci() && oem != OemKind::VwOdis) {
        DpduPayload ignored;
        Dpdu_Receive(ch.link.handle, &ignored, wait);
    } else {
        platform::SleepMs(wait);
    }
    WriteHostWord(pNumMsgs, 0);
    return j2534::STATUS_NOERROR;
}

}  // namespace

int32_t PassThruReadMsgsImpl(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs, uint32_t Timeout) {
    uint32_t offered = 0;
    if (!pMsg || !pNumMsgs) return j2534::ERR_NULL_PARAMETER;
    if (!ReadHostWord(pNumMsgs, &offered)) {
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
        r.rules = g_device.isoRules;
        r.mode = g_device.sendMode;
    }

    if (r.ch.link.transport == ChannelTransport::NativeDoip && !r.ch.link.doip) {
        SetLastErrorText("NativeDoIP channel not initialized");
        return j2534::ERR_FAILED;
    }
    uint32_t count = 0;
    int32_t rc = r.ReadFirst(&count);
    if (rc == j2534::ERR_INVALID_CHANNEL_ID) return rc;
    if (count == 1 && !platform::CopyGuarded(pMsg, &r.out, kRecordHeaderSize + r.out.DataSize)) {
        SetLastErrorText("Invalid message buffer");
        return j2534::ERR_NULL_PARAMETER;
    }
    if (offered > 1 && (count == 1 || r.tookAny)) {
        count += r.ReadReady(pMsg + count, offered - count);
        if (count > 0) rc = j2534::STATUS_NOERROR;
    }
    // The host's word already holds the count when every offered place was filled.
    if (count != offered) WriteHostWord(pNumMsgs, count);
    return rc;
}
