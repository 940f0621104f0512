// Software ISO-TP: when an ISO 15765 channel had to be opened on a raw CAN link, the driver
// segments each message into single, first and consecutive frames itself, paced by the ECU's
// flow control, and reassembles the ECU's answers, answering each first frame with one flow
// control. First frames of 4096 bytes or more use the 32-bit length form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/j2534.h"

// How software ISO-TP reaches the raw CAN link: a wire frame out (4-byte CAN id, big-endian,
// then the 8 data bytes) and a frame in within a time (4-byte CAN id, then the data). The
// driver sends and polls the channel's link of the VCI; tests put a simulated ECU here.
// *error explains a failed send or a Failed receive.
enum class IsoTpFrameIn { Frame, Nothing, Failed };
struct IsoTpFrameIo {
    bool (*send)(void* context, const uint8_t* frame, uint32_t length, uint32_t timeoutMs, std::string* error);
    IsoTpFrameIn (*receive)(void* context, uint32_t timeoutMs, std::vector<uint8_t>* frame, std::string* error);
    void* context;
};

// How long a sender waits for the ECU's flow control (N_Bs), and how many WAIT answers in a
// row it accepts before it gives up.
constexpr uint32_t kIsoTpFlowControlWaitMs = 1000;
constexpr unsigned kIsoTpMaxWaitFrames = 20;

// Sends one message. data and length are the message after the header rules; with
// canIdInData its first 4 bytes name the CAN id, else it goes to txId. rxId is the ECU's
// response id, from which its flow control comes. pcmflashStrip: frames lose the CAN id that
// PCMflash embeds. STATUS_NOERROR, or ERR_FAILED with *failure naming the cause when the ECU's
// flow control ends the message (empty when a frame could not be sent).
int32_t SwIsoTpSend(const IsoTpFrameIo& io, uint32_t txId, const uint8_t* data, uint32_t length, bool canIdInData,
                    uint32_t timeoutMs, uint32_t rxId, bool pcmflashStrip, std::string* failure);

// The software ISO-TP state of one channel: the message being reassembled, and the flow control
// that a reader hands over to a sender of the same channel waiting for it.
struct IsoTpReassembly {
    bool assembling = false;
    uint8_t nextSn = 0;
    uint32_t totalLength = 0;
    std::vector<uint8_t> buffer;
    bool senderAwaitsFlowControl = false;
    std::vector<uint8_t> handedOverFlowControl;  // a whole frame, CAN id first
};

// What one received frame (after its CAN id) asks of the receiver.
enum class IsoTpRxAction {
    None,             // nothing to do (ignored, collected, or a sequence error dropped the message)
    SendFlowControl,  // a first frame: answer with 30 BS STmin
    SendOverflow,     // a first frame announcing more than a J2534 message holds: answer 32 00 00
    Complete,         // *message holds the whole payload
};

// Feeds a frame (after its CAN id) into a channel's reassembly.
IsoTpRxAction SwIsoTpOnFrame(IsoTpReassembly& state, const uint8_t* frame, size_t length,
                             std::vector<uint8_t>* message);

// The flow control frame a channel answers first frames with (30 BS STmin, zero padded), CAN id
// first.
void SwIsoTpFlowControlFrame(uint32_t txId, uint8_t blockSize, uint8_t stMin, uint8_t wire[12]);
