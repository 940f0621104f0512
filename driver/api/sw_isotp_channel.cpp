#include "driver/api/sw_isotp_channel.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/big_endian.h"
#include "common/protocols.h"
#include "driver/api/capture_hooks.h"
#include "driver/api/device.h"
#include "driver/api/last_error.h"
#include "driver/config/host_profile.h"
#include "driver/iso15765/sw_isotp.h"
#include "platform/platform.h"

namespace {

// A Timeout 0 read drains what is there, but a bus full of foreign frames must not keep it.
constexpr unsigned kMaxFramesPerImmediateRead = 1024;
// Slices of a flow control wait, so that a frame a reader hands over is seen soon.
constexpr uint32_t kHandOverPollMs = 5;

// One frame from the channel's link into frame (waiting up to timeoutMs, or only one the link
// already holds), with the time it was taken off the link.
DpduResult ReceiveFrame(const ChannelState& channel, std::vector<uint8_t>* frame, SwIsoTpWait wait,
                        uint32_t timeoutMs, uint64_t* receivedUs) {
    DpduPayload payload;
    const DpduResult received = wait == SwIsoTpWait::ReadyFramesOnly
                                    ? Dpdu_TakeReady(channel.link.handle, &payload)
                                    : Dpdu_Receive(channel.link.handle, &payload, timeoutMs);
    frame->assign(payload.bytes, payload.bytes + payload.kept());
    *receivedUs = payload.receivedUs;
    if (received.ok() && CaptureOn()) CaptureIn(channel, payload.bytes, payload.kept(), true, payload.receivedUs);
    return received;
}

DpduResult SendFrame(const ChannelState& channel, const uint8_t* frame, uint32_t length, uint32_t timeoutMs,
                     const DpduSendMode& mode, CaptureSender sender) {
    DpduResult sent = Dpdu_Send(channel.link.handle, frame, length, timeoutMs, mode);
    if (sent.ok() && CaptureOn()) CaptureOut(channel, frame, length, true, sender);
    return sent;
}

struct LinkIo {
    const ChannelState* channel;
    const DpduSendMode* mode;
};

bool SendOnLink(void* context, const uint8_t* frame, uint32_t length, uint32_t timeoutMs, std::string* error) {
    const LinkIo* io = static_cast<LinkIo*>(context);
    DpduResult sent = SendFrame(*io->channel, frame, length, timeoutMs, *io->mode, CaptureThreadSender());
    if (!sent.ok()) *error = sent.text;
    return sent.ok();
}

bool TakeHandedOverFrame(uint32_t channelId, std::vector<uint8_t>* frame) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    ChannelContext* live = FindChannel(channelId);
    if (!live || live->reassembly.handedOverFlowControl.empty()) return false;
    frame->swap(live->reassembly.handedOverFlowControl);
    live->reassembly.handedOverFlowControl.clear();
    return true;
}

IsoTpFrameIn ReceiveOnLink(void* context, uint32_t timeoutMs, std::vector<uint8_t>* frame, std::string* error) {
    const LinkIo* io = static_cast<LinkIo*>(context);
    const uint64_t deadline = platform::TickCount64() + timeoutMs;
    for (;;) {
        if (TakeHandedOverFrame(io->channel->channelId, frame)) return IsoTpFrameIn::Frame;
        const uint64_t now = platform::TickCount64();
        const uint32_t slice =
            now >= deadline ? 0 : static_cast<uint32_t>(std::min<uint64_t>(deadline - now, kHandOverPollMs));
        uint64_t receivedUs = 0;
        const DpduResult received = ReceiveFrame(*io->channel, frame, SwIsoTpWait::UpToTimeout, slice, &receivedUs);
        if (received.ok()) return IsoTpFrameIn::Frame;
        if (!received.text.empty()) {
            *error = received.text;
            return IsoTpFrameIn::Failed;
        }
        if (platform::TickCount64() >= deadline) return IsoTpFrameIn::Nothing;
    }
}

void SetAwaitingFlowControl(uint32_t channelId, bool waiting) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    if (ChannelContext* live = FindChannel(channelId)) {
        live->reassembly.senderAwaitsFlowControl = waiting;
        live->reassembly.handedOverFlowControl.clear();
    }
}

// One received frame, under the lock: handed to a waiting sender, fed into the reassembly, or
// ignored. False when the channel is gone.
bool TakeFrame(const ChannelState& copy, const std::vector<uint8_t>& frame, IsoTpRxAction* action,
               std::vector<uint8_t>* message, uint8_t flowControl[12], uint32_t* rxId) {
    *action = IsoTpRxAction::None;
    std::lock_guard<std::mutex> lock(g_deviceLock);
    ChannelContext* live = FindChannel(copy.channelId);
    if (!live) return false;
    uint32_t txId = 0;
    SwIsoTpIds(copy, *live, &txId, rxId);
    const bool withId = frame.size() >= 5;
    const uint32_t canId = withId ? ReadBigEndian32(frame.data()) : *rxId;
    const uint8_t* body = frame.data() + (withId ? 4 : 0);
    const size_t bodyLength = frame.size() - (withId ? 4 : 0);
    if (canId != *rxId) return true;
    if (j2534::IsoTpTypeOf(body[0]) == j2534::IsoTpFrameType::FlowControl && live->reassembly.senderAwaitsFlowControl) {
        live->reassembly.handedOverFlowControl = frame;  // the flow control a sender of this channel waits for
        return true;
    }
    *action = SwIsoTpOnFrame(live->reassembly, body, bodyLength, message);
    SwIsoTpFlowControlFrame(txId, live->isoBs, live->isoStMin, flowControl);
    return true;
}

void Deliver(const ChannelState& copy, uint32_t rxId, const std::vector<uint8_t>& message, uint64_t receivedUs,
             j2534::PASSTHRU_MSG* msg) {
    msg->ProtocolID = copy.protocolId;
    msg->RxStatus = msg->TxFlags = msg->ExtraDataIndex = 0;
    msg->Timestamp = j2534::TimestampFromUs(receivedUs);
    WriteBigEndian32(msg->Data, rxId);
    std::memcpy(msg->Data + 4, message.data(), message.size());
    msg->DataSize = static_cast<uint32_t>(message.size() + 4);
}

}  // namespace

void SwIsoTpIds(const ChannelState& copy, const ChannelState& live, uint32_t* txId, uint32_t* rxId) {
    *txId = copy.link.swIsoTpTxId != 0 ? copy.link.swIsoTpTxId : DasFirstTxId();
    *rxId = copy.link.swIsoTpRxId != 0 ? copy.link.swIsoTpRxId : DasFirstRxId();
    if (live.link.swIsoTpTxId != 0) *txId = live.link.swIsoTpTxId;
    if (live.link.swIsoTpRxId != 0) *rxId = live.link.swIsoTpRxId;
    if (live.iso.expectedRxId != 0) *rxId = live.iso.expectedRxId;
}

int32_t SwIsoTpSendOnChannel(const ChannelState& copy, const DpduSendMode& mode, bool pcmflashStrip,
                             const uint8_t* data, uint32_t length, bool canIdInData, uint32_t timeoutMs,
                             std::string* failure) {
    uint32_t txId = 0, rxId = 0;
    {
        std::lock_guard<std::mutex> lock(g_deviceLock);
        const ChannelContext* live = FindChannel(copy.channelId);
        SwIsoTpIds(copy, live ? *live : copy, &txId, &rxId);
    }
    LinkIo link{&copy, &mode};
    IsoTpFrameIo io{&SendOnLink, &ReceiveOnLink, &link};
    SetAwaitingFlowControl(copy.channelId, true);
    int32_t rc = SwIsoTpSend(io, txId, data, length, canIdInData, timeoutMs, rxId, pcmflashStrip, failure);
    SetAwaitingFlowControl(copy.channelId, false);
    return rc;
}

int32_t SwIsoTpReceiveOnChannel(const ChannelState& copy, const DpduSendMode& mode, j2534::PASSTHRU_MSG* msg,
                                uint32_t* count, uint32_t timeoutMs, SwIsoTpWait wait) {
    const uint64_t start = platform::TickCount64();
    const bool readyOnly = wait == SwIsoTpWait::ReadyFramesOnly;
    std::vector<uint8_t> frame, message;
    uint64_t receivedUs = 0;
    for (unsigned frames = 0;; ++frames) {
        const uint64_t elapsed = platform::TickCount64() - start;
        const bool timeUp =
            timeoutMs != 0 && !readyOnly ? elapsed >= timeoutMs : frames >= kMaxFramesPerImmediateRead;
        const uint32_t remaining =
            timeoutMs != 0 && elapsed < timeoutMs ? static_cast<uint32_t>(timeoutMs - elapsed) : 0;
        DpduResult received;
        if (!(frames > 0 && timeUp))
            received = ReceiveFrame(copy, &frame, wait, remaining, &receivedUs);
        if ((frames > 0 && timeUp) || !received.ok() || frame.empty()) {
            *count = 0;
            if (!received.text.empty()) SetLastErrorText(received.text);
            return timeoutMs == 0 ? j2534::ERR_BUFFER_EMPTY : j2534::ERR_TIMEOUT;
        }
        uint8_t flowControl[12];
        IsoTpRxAction action = IsoTpRxAction::None;
        uint32_t rxId = 0;
        if (!TakeFrame(copy, frame, &action, &message, flowControl, &rxId)) return j2534::ERR_INVALID_CHANNEL_ID;
        if (action == IsoTpRxAction::SendOverflow) {
            flowControl[4] = j2534::kIsoTpFlowControlOverflow;
            flowControl[5] = flowControl[6] = 0;
        }
        if (action == IsoTpRxAction::SendFlowControl || action == IsoTpRxAction::SendOverflow) {
            SendFrame(copy, flowControl, sizeof flowControl, 1000, mode, CaptureSender::AutoFlowControl);
        } else if (action == IsoTpRxAction::Complete) {
            Deliver(copy, rxId, message, receivedUs, msg);
            *count = 1;
            return j2534::STATUS_NOERROR;
        }
    }
}
