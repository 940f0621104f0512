// Software ISO-TP on a channel's D-PDU link: frames go out through Dpdu_Send and come in through
// Dpdu_Receive; the reassembly state lives in the live channel record under the device lock.
#include <cstring>

#include "common/big_endian.h"
#include "common/protocols.h"
#include "driver/api/device.h"
#include "driver/api/last_error.h"
#include "driver/dpdu/dpdu_backend.h"
#include "driver/iso15765/iso15765.h"
#include "driver/iso15765/sw_isotp.h"
#include "platform/platform.h"

namespace {

// A Timeout 0 read drains what is there, but a bus full of foreign frames must not keep it.
constexpr unsigned kMaxFramesPerImmediateRead = 1024;
// Slices of a flow control wait, so that a frame a reader hands over is seen soon.
constexpr uint32_t kHandOverPollMs = 5;

struct LinkIo {
    uint32_t channelId;
    uint32_t linkId;
};

bool SendOnLink(void* context, const uint8_t* frame, uint32_t length, uint32_t timeoutMs, std::string* error) {
    return Dpdu_Send(static_cast<LinkIo*>(context)->linkId, frame, length, timeoutMs, error);
}

bool TakeHandedOverFrame(uint32_t channelId, std::vector<uint8_t>* frame) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    ChannelContext* live = FindChannel(channelId);
    if (!live || live->pendingFc.empty()) return false;
    frame->swap(live->pendingFc);
    live->pendingFc.clear();
    return true;
}

bool ReceiveOnLink(void* context, uint32_t timeoutMs, std::vector<uint8_t>* frame, std::string* error) {
    const LinkIo* io = static_cast<LinkIo*>(context);
    const uint64_t deadline = platform::TickCount64() + timeoutMs;
    for (;;) {
        if (TakeHandedOverFrame(io->channelId, frame)) return true;
        const uint64_t now = platform::TickCount64();
        const uint32_t slice = now >= deadline ? 0 : static_cast<uint32_t>(std::min<uint64_t>(deadline - now, kHandOverPollMs));
        if (Dpdu_Receive(io->linkId, frame, slice, error)) return true;
        if (!error->empty() || platform::TickCount64() >= deadline) return false;
    }
}

void SetAwaitingFlowControl(uint32_t channelId, bool waiting) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    if (ChannelContext* live = FindChannel(channelId)) {
        live->txAwaitingFc = waiting;
        live->pendingFc.clear();
    }
}

}  // namespace

int32_t SwIsoTpSendOnChannel(const ChannelState& copy, const uint8_t* data, uint32_t length, bool canIdInData,
                             uint32_t timeoutMs, std::string* failure) {
    uint32_t txId = 0, rxId = 0;
    {
        std::lock_guard<std::mutex> lock(g_deviceLock);
        const ChannelContext* live = FindChannel(copy.channelId);
        SwIsoTpIds(copy, live ? *live : copy, &txId, &rxId);
    }
    LinkIo link{copy.channelId, copy.linkHandle};
    IsoTpFrameIo io{&SendOnLink, &ReceiveOnLink, &link};
    SetAwaitingFlowControl(copy.channelId, true);
    int32_t rc = SwIsoTpSend(io, copy, data, length, canIdInData, timeoutMs, rxId, failure);
    SetAwaitingFlowControl(copy.channelId, false);
    return rc;
}

int32_t SwIsoTpReceiveOnChannel(const ChannelState& copy, j2534::PASSTHRU_MSG* msg, uint32_t* count,
                                uint32_t timeoutMs) {
    LinkIo link{copy.channelId, copy.linkHandle};
    const uint64_t start = platform::TickCount64();
    std::vector<uint8_t> frame, message;
    for (unsigned frames = 0;; ++frames) {
        const uint64_t elapsed = platform::TickCount64() - start;
        const bool timeUp = timeoutMs != 0 ? elapsed >= timeoutMs : frames >= kMaxFramesPerImmediateRead;
        std::string error;
        const uint32_t remaining = timeoutMs != 0 && elapsed < timeoutMs ? static_cast<uint32_t>(timeoutMs - elapsed) : 0;
        if ((frames > 0 && timeUp) || !Dpdu_Receive(link.linkId, &frame, remaining, &error) || frame.empty()) {
            *count = 0;
            if (!error.empty()) SetLastErrorText(error);
            return timeoutMs == 0 ? j2534::ERR_BUFFER_EMPTY : j2534::ERR_TIMEOUT;
        }

        uint8_t flowControl[12];
        IsoTpRxAction action = IsoTpRxAction::None;
        uint32_t txId = 0, rxId = 0;
        {
            std::lock_guard<std::mutex> lock(g_deviceLock);
            ChannelContext* live = FindChannel(copy.channelId);
            if (!live) return j2534::ERR_INVALID_CHANNEL_ID;
            SwIsoTpIds(copy, *live, &txId, &rxId);
            const bool withId = frame.size() >= 5;
            const uint32_t canId = withId ? ReadBigEndian32(frame.data()) : rxId;
            const uint8_t* body = frame.data() + (withId ? 4 : 0);
            const size_t bodyLength = frame.size() - (withId ? 4 : 0);
            if (canId != rxId) continue;
            if (j2534::IsoTpTypeOf(body[0]) == j2534::IsoTpFrameType::FlowControl && live->txAwaitingFc) {
                live->pendingFc = frame;  // the flow control a sender of this channel waits for
                continue;
            }
            action = SwIsoTpOnFrame(*live, body, bodyLength, &message);
            SwIsoTpFlowControlFrame(*live, txId, flowControl);
        }
        if (action == IsoTpRxAction::SendOverflow) {
            flowControl[4] = 0x32;
            flowControl[5] = flowControl[6] = 0;
        }
        if (action == IsoTpRxAction::SendFlowControl || action == IsoTpRxAction::SendOverflow) {
            std::string ignored;
            Dpdu_Send(link.linkId, flowControl, sizeof flowControl, 1000, &ignored);
        } else if (action == IsoTpRxAction::Complete) {
            msg->ProtocolID = copy.protocolId;
            msg->RxStatus = msg->TxFlags = msg->ExtraDataIndex = 0;
            msg->Timestamp = platform::TickCount32();
            WriteBigEndian32(msg->Data, rxId);
            std::memcpy(msg->Data + 4, message.data(), message.size());
            msg->DataSize = static_cast<uint32_t>(message.size() + 4);
            *count = 1;
            return j2534::STATUS_NOERROR;
        }
    }
}
