// Software ISO-TP frames: segmentation paced by the ECU's flow control, and reassembly.
#include "driver/iso15765/sw_isotp.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/big_endian.h"
#include "common/j2534.h"
#include "common/protocols.h"
#include "driver/log/log.h"
#include "driver/iso15765/iso15765.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kMinFrameGapUs = 1000;
constexpr uint32_t kMaxPlainFirstFrameLength = 4095;

struct Sender {
    const IsoTpFrameIo& io;
    uint32_t txId;
    uint32_t rxId;
    uint32_t timeoutMs;
    std::string* failure;

    bool SendFrame(const uint8_t frame[8]) const {
        uint8_t wire[12];
        WriteBigEndian32(wire, txId);
        std::memcpy(wire + 4, frame, 8);
        std::string error;
        if (io.send(io.context, wire, sizeof wire, timeoutMs, &error)) return true;
        LogPrintf("ISO15765: SW-ISO-TP Dpdu_Send failed: %s", error.c_str());
        return false;
    }

    int32_t Fail(const std::string& cause) const {
        WriteLogLine(cause);
        if (failure) *failure = cause;
        return j2534::ERR_FAILED;
    }

    // Waits for a flow control from the ECU: CTS gives its block size and STmin.
    int32_t AwaitClearToSend(uint8_t* blockSize, uint8_t* stMin) const {
        char rx[16];
        std::snprintf(rx, sizeof rx, "0x%lX", static_cast<unsigned long>(rxId));
        unsigned waits = 0;
        uint64_t deadline = platform::MonotonicUs() + uint64_t(kIsoTpFlowControlWaitMs) * 1000;
        std::vector<uint8_t> frame;
        for (;;) {
            const uint64_t now = platform::MonotonicUs();
            if (now >= deadline)
                return Fail(std::string("ISO15765: SW-ISO-TP no flow control from the ECU within 1000 ms (rx=") + rx + ")");
            std::string error;
            const uint32_t left = static_cast<uint32_t>((deadline - now + 999) / 1000);
            const IsoTpFrameIn in = io.receive(io.context, left, &frame, &error);
            if (in == IsoTpFrameIn::Failed) return Fail("ISO15765: SW-ISO-TP flow control wait failed: " + error);
            if (in == IsoTpFrameIn::Nothing) continue;
            if (frame.size() < 4 + 3) continue;
            if (ReadBigEndian32(frame.data()) != rxId || j2534::IsoTpTypeOf(frame[4]) != j2534::IsoTpFrameType::FlowControl)
                continue;  // not its flow control
            switch (frame[4] & 0x0F) {
            case 0:
                *blockSize = frame[5];
                *stMin = frame[6];
                return j2534::STATUS_NOERROR;
            case 1:
                if (++waits > kIsoTpMaxWaitFrames)
                    return Fail(std::string("ISO15765: SW-ISO-TP ECU kept answering WAIT (rx=") + rx + ")");
                deadline = platform::MonotonicUs() + uint64_t(kIsoTpFlowControlWaitMs) * 1000;
                continue;
            case 2:
                return Fail(std::string("ISO15765: SW-ISO-TP ECU flow control OVERFLOW (rx=") + rx + ")");
            default:
                return Fail(std::string("ISO15765: SW-ISO-TP invalid flow control from the ECU (rx=") + rx + ")");
            }
        }
    }
};

// STmin byte as µs: 0x00-0x7F ms, 0xF1-0xF9 100-900 µs, reserved values as the longest time.
uint32_t StMinUs(uint8_t stMin) {
    if (stMin <= 0x7F) return uint32_t(stMin) * 1000;
    if (stMin >= 0xF1 && stMin <= 0xF9) return uint32_t(stMin - 0xF0) * 100;
    return 127000;
}

void SleepUntil(uint64_t deadlineUs) {
    const uint64_t now = platform::MonotonicUs();
    if (deadlineUs > now) platform::SleepPreciseUs(static_cast<uint32_t>(deadlineUs - now));
}

// PCMflash writes a CAN id behind the PCI of ready single and first frames; the ECU must not see
// it. What is left beyond the frame's PCI becomes padding.
void StripPcmflashFrame(uint8_t f[8]) {
    uint32_t length = 8;
    const PcmflashStrip strip = StripPcmflashCanId(f, &length, 8);
    uint32_t keep = 8;
    if (strip.kind == PcmflashStrip::Kind::SingleFrame) {
        keep = 1 + std::min(strip.after, 3u);
        LogPrintf("ISO15765: PCMflash SW-ISO-TP stripped embedded CAN-ID in SF (len %u->%u)", strip.before, strip.after);
    } else if (strip.kind == PcmflashStrip::Kind::FirstFrame) {
        keep = 4;
        LogPrintf("ISO15765: PCMflash SW-ISO-TP stripped embedded CAN-ID in FF (total->%u)", strip.after);
    }
    std::memset(f + keep, 0, 8 - keep);
}

}  // namespace

int32_t SwIsoTpSend(const IsoTpFrameIo& io, uint32_t txId, const uint8_t* data, uint32_t len, bool canIdInData,
                    uint32_t timeoutMs, uint32_t rxId, bool pcmflashStrip, std::string* failure) {
    if (failure) failure->clear();
    Sender s{io, txId, rxId, timeoutMs, failure};
    if (canIdInData && len > 3) {
        s.txId = ReadBigEndian32(data);
        data += 4;
        len -= 4;
    }
    uint8_t frame[8] = {};
    if (len == 8 && (data[0] >> 4) <= 3) {
        std::memcpy(frame, data, 8);
        if (pcmflashStrip) StripPcmflashFrame(frame);
        WriteLogLine("ISO15765: SW-ISO-TP forwarding framed payload (PCI present)");
        return s.SendFrame(frame) ? j2534::STATUS_NOERROR : j2534::ERR_FAILED;
    }
    if (len <= 7) {
        frame[0] = static_cast<uint8_t>(len);
        if (len) std::memcpy(frame + 1, data, len);
        LogPrintf("ISO15765: SW-ISO-TP synthesized SF len=%u", len);
        return s.SendFrame(frame) ? j2534::STATUS_NOERROR : j2534::ERR_FAILED;
    }

    uint32_t offset;
    if (len <= kMaxPlainFirstFrameLength) {
        frame[0] = static_cast<uint8_t>(0x10 | ((len >> 8) & 0x0F));
        frame[1] = static_cast<uint8_t>(len & 0xFF);
        offset = 6;
    } else {
        frame[0] = 0x10;  // FF_DL 0: the length follows as 32 bits
        frame[1] = 0x00;
        WriteBigEndian32(frame + 2, len);
        offset = 2;
    }
    std::memcpy(frame + 8 - offset, data, offset);
    LogPrintf("ISO15765: SW-ISO-TP FF total=%u", len);
    if (!s.SendFrame(frame)) return j2534::ERR_FAILED;

    uint8_t blockSize = 0, stMin = 0;
    int32_t rc = s.AwaitClearToSend(&blockSize, &stMin);
    if (rc != j2534::STATUS_NOERROR) return rc;
    uint8_t sn = 1;
    unsigned inBlock = 0;
    uint64_t nextFrameUs = platform::MonotonicUs();
    while (offset < len) {
        const uint32_t n = std::min(len - offset, 7u);
        std::memset(frame, 0, sizeof frame);
        frame[0] = static_cast<uint8_t>(0x20 | sn);
        std::memcpy(frame + 1, data + offset, n);
        LogPrintf("ISO15765: SW-ISO-TP CF sn=%u bytes=%u", sn, n);
        SleepUntil(nextFrameUs);
        const uint64_t sendStart = platform::MonotonicUs();
        if (!s.SendFrame(frame)) return j2534::ERR_FAILED;
        // The separation time an ECU asks for lies between the end of one send and the start of
        // the next; the driver's own 1 ms pacing counts from the start, so it costs no throughput.
        const uint32_t ecuGapUs = StMinUs(stMin);
        nextFrameUs = ecuGapUs > kMinFrameGapUs ? platform::MonotonicUs() + ecuGapUs : sendStart + kMinFrameGapUs;
        sn = static_cast<uint8_t>((sn + 1) & 0x0F);
        offset += n;
        if (offset < len && blockSize != 0 && ++inBlock == blockSize) {
            inBlock = 0;
            rc = s.AwaitClearToSend(&blockSize, &stMin);
            if (rc != j2534::STATUS_NOERROR) return rc;
        }
    }
    SleepUntil(nextFrameUs);
    return j2534::STATUS_NOERROR;
}

IsoTpRxAction SwIsoTpOnFrame(IsoTpReassembly& st, const uint8_t* f, size_t len, std::vector<uint8_t>* message) {
    if (len == 0) return IsoTpRxAction::None;
    switch (j2534::IsoTpTypeOf(f[0])) {
    case j2534::IsoTpFrameType::Single: {
        const size_t l = f[0] & 0x0F;
        if (l == 0 || len < l + 1) return IsoTpRxAction::None;
        message->assign(f + 1, f + 1 + l);
        return IsoTpRxAction::Complete;
    }
    case j2534::IsoTpFrameType::First: {
        if (len < 2) return IsoTpRxAction::None;
        uint32_t total = (uint32_t(f[0] & 0x0F) << 8) | f[1];
        size_t first = 2;
        if (total == 0) {
            if (len < 6) return IsoTpRxAction::None;
            total = ReadBigEndian32(f + 2);
            first = 6;
        }
        st.assembling = false;
        st.buffer.clear();
        if (total < 8) return IsoTpRxAction::None;  // a single frame's length: not a valid first frame
        if (total > kMaxIsoTpPayload) {
            LogPrintf("ISO15765: SW-ISO-TP FF total=%lu exceeds %lu bytes; answering overflow",
                      static_cast<unsigned long>(total), static_cast<unsigned long>(kMaxIsoTpPayload));
            return IsoTpRxAction::SendOverflow;
        }
        st.totalLength = total;
        st.assembling = true;
        st.nextSn = 1;
        st.buffer.assign(f + first, f + std::min(len, first + total));
        return IsoTpRxAction::SendFlowControl;
    }
    case j2534::IsoTpFrameType::Consecutive: {
        if (!st.assembling) return IsoTpRxAction::None;
        if ((f[0] & 0x0F) != st.nextSn) {
            st.assembling = false;
            st.buffer.clear();
            return IsoTpRxAction::None;
        }
        st.nextSn = static_cast<uint8_t>((st.nextSn + 1) & 0x0F);
        st.buffer.insert(st.buffer.end(), f + 1, f + len);
        if (st.buffer.size() < st.totalLength) return IsoTpRxAction::None;
        message->assign(st.buffer.begin(), st.buffer.begin() + st.totalLength);
        st.assembling = false;
        st.buffer.clear();
        return IsoTpRxAction::Complete;
    }
    default:
        return IsoTpRxAction::None;
    }
}

void SwIsoTpFlowControlFrame(uint32_t txId, uint8_t blockSize, uint8_t stMin, uint8_t wire[12]) {
    std::memset(wire, 0, 12);
    WriteBigEndian32(wire, txId);
    wire[4] = j2534::kIsoTpFlowControlCts;
    wire[5] = blockSize;
    wire[6] = stMin;
}
