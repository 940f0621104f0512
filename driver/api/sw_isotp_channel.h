// Software ISO-TP on a channel's raw CAN link of the VCI: frames go out through Dpdu_Send and
// come in through Dpdu_Receive; the reassembly lives in the live channel record under the device
// lock, so that readers on several threads share it.
#pragma once

#include <cstdint>
#include <string>

#include "common/j2534.h"
#include "driver/api/channel.h"
#include "driver/dpdu/dpdu_backend.h"

// The transmit and receive CAN ids of the channel; the live record's configured and learned
// ids win over the copy's (the first [DAS] pair, or 0x7E0 / 0x7E8, without any).
void SwIsoTpIds(const ChannelState& copy, const ChannelState& live, uint32_t* txId, uint32_t* rxId);

// Sends one message on the channel's link (see SwIsoTpSend). While it waits for the ECU's flow
// control, a reader of the same channel on another thread hands such frames over to it.
int32_t SwIsoTpSendOnChannel(const ChannelState& copy, const DpduSendMode& mode, bool pcmflashStrip,
                             const uint8_t* data, uint32_t length, bool canIdInData, uint32_t timeoutMs,
                             std::string* failure);
// Receives one message for PassThruReadMsgs into *msg (ProtocolID, Timestamp of the frame that
// completed it, DataSize, Data), collecting frames over as many calls as it takes: waiting up to
// timeoutMs, or taking only the frames the link already holds. Returns STATUS_NOERROR with
// *count 1, or ERR_BUFFER_EMPTY (Timeout 0) / ERR_TIMEOUT with *count 0, or
// ERR_INVALID_CHANNEL_ID when the channel went away meanwhile.
enum class SwIsoTpWait { UpToTimeout, ReadyFramesOnly };
int32_t SwIsoTpReceiveOnChannel(const ChannelState& copy, const DpduSendMode& mode, j2534::PASSTHRU_MSG* msg,
                                uint32_t* count, uint32_t timeoutMs, SwIsoTpWait wait);
