// Software ISO-TP: when an ISO 15765 channel had to be opened on a raw CAN link, the driver
// segments each message into single, first and consecutive frames itself, paced by the ECU's
// flow control, and reassembles the ECU's answers, answering each first frame with one flow
// control. First frames of 4096 bytes or more use the 32-bit length form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/j2534.h"
#include "driver/api/channel.h"

// How software ISO-TP reaches the raw CAN link: a wire frame out (4-byte CAN id, big-endian,
// then the 8 data bytes) and a frame in within a time (4-byte CAN id, then the data). The
// driver sends and polls the channel's D-PDU link; tests put a simulated ECU here.
struct IsoTpFrameIo {
    bool (*send)(void* context, const uint8_t* frame, uint32_t length, uint32_t timeoutMs, std::string* error);
    bool (*receive)(void* context, uint32_t timeoutMs, std::vector<uint8_t>* frame, std::string* error);
    void* context;
};

// How long a sender waits for the ECU's flow control (N_Bs), and how many WAIT answers in a
// row it accepts before it gives up.
constexpr uint32_t kIsoTpFlowControlWaitMs = 1000;
constexpr unsigned kIsoTpMaxWaitFrames = 20;

// Sends one message. data and length are the message after the header rules; with
// canIdInData its first 4 bytes name the CAN id. rxId is the ECU's response id, from which its
// flow control comes. STATUS_NOERROR, or ERR_FAILED with *failure naming the cause when the
// ECU's flow control ends the message (empty when a frame could not be sent).
int32_t SwIsoTpSend(const IsoTpFrameIo& io, const ChannelState& channel, const uint8_t* data, uint32_t length,
                    bool canIdInData, uint32_t timeoutMs, uint32_t rxId, std::string* failure);

// What one received frame (after its CAN id) asks of the receiver.
enum class IsoTpRxAction {
    None,             // nothing to do (ignored, collected, or a sequence error dropped the message)
    SendFlowControl,  // a first frame: answer with 30 BS STmin
    SendOverflow,     // a first frame announcing more than a J2534 message holds: answer 32 00 00
    Complete,         // *message holds the whole payload
};

// Feeds a frame into the channel's reassembly state (the live record, under the device lock).
IsoTpRxAction SwIsoTpOnFrame(ChannelContext& channel, const uint8_t* frame, size_t length,
                             std::vector<uint8_t>* message);

// The transmit and receive CAN ids of a software ISO-TP channel; live is the channel's record
// now (under the device lock), whose configured and learned ids win over the copy's.
void SwIsoTpIds(const ChannelState& copy, const ChannelState& live, uint32_t* txId, uint32_t* rxId);

// The flow control frame this channel answers first frames with (30 BS STmin, zero padded).
void SwIsoTpFlowControlFrame(const ChannelState& channel, uint32_t txId, uint8_t wire[12]);

// ---- On a channel's D-PDU link ----------------------------------------------------------------

// Sends one message on the channel's link (see SwIsoTpSend). While it waits for the ECU's flow
// control, a reader of the same channel on another thread hands such frames over to it.
int32_t SwIsoTpSendOnChannel(const ChannelState& copy, const uint8_t* data, uint32_t length, bool canIdInData,
                             uint32_t timeoutMs, std::string* failure);
// Receives one message for PassThruReadMsgs into *msg (ProtocolID, Timestamp, DataSize, Data),
// collecting frames over as many calls as it takes. Returns STATUS_NOERROR with *count 1, or
// ERR_BUFFER_EMPTY (Timeout 0) / ERR_TIMEOUT with *count 0, or ERR_INVALID_CHANNEL_ID when the
// channel went away meanwhile.
int32_t SwIsoTpReceiveOnChannel(const ChannelState& copy, j2534::PASSTHRU_MSG* msg, uint32_t* count,
                                uint32_t timeoutMs);
