// ISO-TP (ISO 15765-2) on the simulated CAN bus: bus frame times, the ECU side of the
// segmentation protocol for raw CAN links, and the duration of a whole transfer for links on
// which the VCI segments by itself. Reusable by other simulators (DoIP gateway).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vcisim/ecu_uds.h"

namespace vcisim {

// Time on the wire of one CAN frame with n data bytes, in whole µs rounded up; a CAN FD frame
// is as long as the frame length that holds n (12, 16, 20, 24, 32, 48 or 64 above 8).
uint64_t CanFrameUs(size_t n, bool fd, bool extendedId, uint32_t nominalBaud, uint32_t dataBaud);

struct BusTiming {
    bool timed = false;            // false: zero latency, frames take no time
    uint32_t nominalBaud = 500000; // classic CAN / CAN FD arbitration bit rate
    uint32_t dataBaud = 2000000;   // CAN FD data phase bit rate
    // CanFrameUs at these rates, 0 when not timed.
    uint64_t FrameUs(size_t dataBytes, bool fd, bool extendedId) const;
};

// One bus shared by the links of a module: a frame starts when the bus is free.
struct SimBus {
    BusTiming timing;
    uint64_t freeAtUs = 0;
    // A frame ready at readyUs; returns the time its transmission ends.
    uint64_t Send(uint64_t readyUs, size_t dataBytes, bool fd, bool extendedId);
};

// STmin byte to µs (0x00-0x7F ms, 0xF1-0xF9 100-900 µs, reserved values 127 ms).
uint64_t StMinToUs(uint8_t stMin);
// Valid CAN FD frame length for n data bytes (n rounded up to 8, 12, 16, 20, 24, 32, 48, 64).
size_t FdFrameLength(size_t n);

// End time of an ISO-TP transfer of `len` payload bytes over frames of maxFrame bytes (8 classic,
// up to 64 FD) starting at startUs, the receiver's flow control giving bs and stMin. On CAN FD a
// single frame of more than 7 bytes takes the escape form (00, length) and a first frame of
// more than 4095 bytes the long form (10 00 and a 32-bit length).
uint64_t IsoTpTransferEndUs(size_t len, size_t maxFrame, uint8_t bs, uint8_t stMin, SimBus& bus,
                            uint64_t startUs, bool fd, bool extendedId);

struct TimedFrame {
    uint64_t dueUs = 0;  // the frame is on the bus (received) at this time
    Bytes data;          // CAN data bytes (without identifier)
};

// The ECU's side of ISO-TP on a raw CAN link: reassembles the tester's request (answering a
// first frame with its own flow control, honouring its BS) and segments the ECU's answer
// (first frame, then consecutive frames paced by the tester's flow control: BS and STmin). The
// ECU answers in the format the request came in: classic frames of 8 bytes, or CAN FD frames of
// up to 64.
class EcuIsoTpSession {
public:
    EcuIsoTpSession(const EcuConfig& cfg, bool extendedId) : cfg_(cfg), ext_(extendedId) {}

    // A frame from the tester (a CAN FD frame when fd) arrives at nowUs. Frames the ECU sends in
    // reply go to *out; a completed request is returned in *request with *complete = true.
    void OnTesterFrame(const Bytes& data, bool fd, uint64_t nowUs, SimBus& bus, std::vector<TimedFrame>* out,
                       Bytes* request, bool* complete);
    // The ECU starts to send an answer at atUs.
    void StartResponse(const Bytes& payload, uint64_t atUs, SimBus& bus, std::vector<TimedFrame>* out);
    bool WaitingForFlowControl() const { return txWaitingFc_; }
    bool Receiving() const { return rxActive_; }

private:
    Bytes Frame(Bytes data) const;
    void SendBlock(uint64_t startUs, uint8_t bs, uint8_t stMin, SimBus& bus, std::vector<TimedFrame>* out);

    EcuConfig cfg_;
    size_t maxFrame_ = 8;
    bool fd_ = false;
    bool ext_;
    // receive side
    bool rxActive_ = false;
    uint32_t rxTotal_ = 0;
    uint8_t rxSn_ = 0;
    unsigned rxBlockCount_ = 0;
    Bytes rxBuf_;
    // transmit side
    bool txWaitingFc_ = false;
    Bytes txBuf_;
    size_t txOffset_ = 0;
    uint8_t txSn_ = 0;
};

}  // namespace vcisim
