// Families of the driver's protocol ids, the ISO-TP frame constants and the CAN id masks, so
// that "is this ISO 15765", "is this CAN FD" and "is this a flow control" read the same
// everywhere.
#pragma once

#include <cstdint>

#include "common/j2534.h"

namespace j2534 {

// ISO 15765 on classic CAN (6) and on CAN FD (9 and 16).
inline bool IsIso15765Protocol(uint32_t p) { return p == ISO15765 || p == ISO15765_FD_ALT || p == ISO15765_FD; }
// Raw CAN frames: classic (5) and CAN FD (15, and 10 in the driver's second numbering).
inline bool IsRawCanProtocol(uint32_t p) { return p == CAN || p == CAN_FD || p == SCI_A_TRANS; }
// Every protocol carried on CAN FD.
inline bool IsCanFdProtocol(uint32_t p) {
    return p == ISO15765_FD_ALT || p == SCI_A_TRANS || p == CAN_FD || p == ISO15765_FD;
}
inline bool IsKLineProtocol(uint32_t p) { return p == ISO9141 || p == ISO14230; }
inline bool IsDoipProtocol(uint32_t p) { return p == DOIP || p == DOIP_ALT; }

// ISO 15765 on CAN FD, raw CAN FD and DoIP have two numbers each; a message may carry either
// number of its channel's protocol.
inline uint32_t ProtocolFamily(uint32_t p) {
    if (p == ISO15765_FD) return ISO15765_FD_ALT;
    if (p == SCI_A_TRANS) return CAN_FD;
    if (p == DOIP_ALT) return DOIP;
    return p;
}
inline bool SameProtocolFamily(uint32_t a, uint32_t b) { return ProtocolFamily(a) == ProtocolFamily(b); }

// CAN ids: 29 bits at most; the top three bits of the 32-bit word in front of the data are
// flags, never part of the id.
constexpr uint32_t kCanIdMask = 0x1FFFFFFF;
constexpr uint32_t kCanIdFlagBits = 0xE0000000;
constexpr uint32_t kStandardCanIdMask = 0x7FF;
constexpr uint32_t kCanIdHeaderSize = 4;
// A 4-byte header whose top bits could only be an 11- or 29-bit CAN id.
inline bool LooksLikeCanIdHeader(const uint8_t* d) { return d[0] == 0 && d[1] == 0 && (d[2] & 0xE0) == 0; }

// ISO-TP protocol control information: the frame type is the high nibble of the first byte.
enum class IsoTpFrameType : uint8_t { Single = 0, First = 1, Consecutive = 2, FlowControl = 3 };
inline IsoTpFrameType IsoTpTypeOf(uint8_t pci) { return static_cast<IsoTpFrameType>(pci >> 4); }
// Flow control status in the low nibble: continue to send, wait, overflow.
constexpr uint8_t kIsoTpFlowControlCts = 0x30;
constexpr uint8_t kIsoTpFlowControlWait = 0x31;
constexpr uint8_t kIsoTpFlowControlOverflow = 0x32;

}  // namespace j2534
