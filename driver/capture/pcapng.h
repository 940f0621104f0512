// The pcapng file format as the capture writes it: whole blocks appended to a byte string, and
// the link-layer forms of what a block carries (a SocketCAN frame, an exported PDU naming its
// Wireshark dissector). Little-endian blocks; no files here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pcapng {

constexpr uint16_t kLinkTypeSocketCan = 227;   // LINKTYPE_CAN_SOCKETCAN
constexpr uint16_t kLinkTypeUpperPdu = 252;    // LINKTYPE_WIRESHARK_UPPER_PDU

enum class Direction : uint8_t { Inbound = 1, Outbound = 2 };  // the epb_flags values

// A section header (byte-order magic, version 1.0, length unknown) naming the application.
void AppendSectionHeader(std::string* out, const std::string& application);
// An interface description: the link type, the name, microsecond time stamps (if_tsresol 6)
// and if_tsoffset, the seconds readers add to every time stamp of the interface.
void AppendInterface(std::string* out, uint16_t linkType, const std::string& name, int64_t tsOffsetSeconds);
// An enhanced packet block: interface index, 64-bit microsecond time, the direction in
// epb_flags and an opt_comment when the comment is not empty.
void AppendPacket(std::string* out, uint32_t interfaceIndex, uint64_t timeUs, Direction direction,
                  const uint8_t* data, size_t length, const std::string& comment);

// A frame as LINKTYPE_CAN_SOCKETCAN carries it: the id in network byte order with the
// extended-id flag, the length, then the data: 8 bytes for classic CAN, 64 for CAN FD (marked
// as such, bit rate switch set), zero beyond the length. Longer data are cut to 8 or 64.
void AppendSocketCanFrame(std::string* out, uint32_t canId, bool extended, bool canFd, const uint8_t* data,
                          size_t length);
// An exported PDU: the dissector's name as its one tag, then the bytes it decodes.
void AppendExportedPdu(std::string* out, const char* dissector, const uint8_t* data, size_t length);

}  // namespace pcapng
