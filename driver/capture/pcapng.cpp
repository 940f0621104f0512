#include "driver/capture/pcapng.h"

#include <cstring>

namespace pcapng {

namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;

constexpr uint16_t kOptEnd = 0;
constexpr uint16_t kOptComment = 1;
constexpr uint16_t kShbUserApplication = 4;
constexpr uint16_t kIfName = 2;
constexpr uint16_t kIfTsResol = 9;
constexpr uint16_t kIfTsOffset = 14;
constexpr uint16_t kEpbFlags = 2;

constexpr uint16_t kExportedPduDissectorName = 12;  // EXP_PDU_TAG_DISSECTOR_NAME

constexpr uint32_t kCanExtendedFlag = 0x80000000;
constexpr uint8_t kCanFdBitRateSwitch = 0x01;
constexpr uint8_t kCanFdFrame = 0x04;  // CANFD_FDF: the frame is CAN FD whatever its length

void Le16(std::string* out, uint16_t v) {
    out->push_back(static_cast<char>(v));
    out->push_back(static_cast<char>(v >> 8));
}
void Le32(std::string* out, uint32_t v) {
    Le16(out, static_cast<uint16_t>(v));
    Le16(out, static_cast<uint16_t>(v >> 16));
}
void Le64(std::string* out, uint64_t v) {
    Le32(out, static_cast<uint32_t>(v));
    Le32(out, static_cast<uint32_t>(v >> 32));
}
void Be16(std::string* out, uint16_t v) {
    out->push_back(static_cast<char>(v >> 8));
    out->push_back(static_cast<char>(v));
}
void Be32(std::string* out, uint32_t v) {
    Be16(out, static_cast<uint16_t>(v >> 16));
    Be16(out, static_cast<uint16_t>(v));
}
void PadTo4(std::string* out, size_t from) { out->append((4 - (out->size() - from) % 4) % 4, '\0'); }

void Option(std::string* out, uint16_t code, const void* value, size_t length) {
    Le16(out, code);
    Le16(out, static_cast<uint16_t>(length));
    const size_t start = out->size();
    out->append(static_cast<const char*>(value), length);
    PadTo4(out, start);
}

// Type and a length to fill in; returns where the block starts.
size_t BeginBlock(std::string* out, uint32_t type) {
    const size_t start = out->size();
    Le32(out, type);
    Le32(out, 0);
    return start;
}

// The total length, at both ends of the block.
void EndBlock(std::string* out, size_t start) {
    const uint32_t total = static_cast<uint32_t>(out->size() - start + 4);
    Le32(out, total);
    for (int i = 0; i < 4; ++i) (*out)[start + 4 + i] = static_cast<char>(total >> (8 * i));
}

}  // namespace

void AppendSectionHeader(std::string* out, const std::string& application) {
    const size_t start = BeginBlock(out, kSectionHeader);
    Le32(out, kByteOrderMagic);
    Le16(out, 1);
    Le16(out, 0);
    Le64(out, ~uint64_t(0));  // section length not given
    Option(out, kShbUserApplication, application.data(), application.size());
    Option(out, kOptEnd, nullptr, 0);
    EndBlock(out, start);
}

void AppendInterface(std::string* out, uint16_t linkType, const std::string& name, int64_t tsOffsetSeconds) {
    const size_t start = BeginBlock(out, kInterfaceDescription);
    Le16(out, linkType);
    Le16(out, 0);
    Le32(out, 0);  // no snapshot length
    Option(out, kIfName, name.data(), name.size());
    const uint8_t microseconds = 6;
    Option(out, kIfTsResol, &microseconds, 1);
    std::string offset;
    Le64(&offset, static_cast<uint64_t>(tsOffsetSeconds));
    Option(out, kIfTsOffset, offset.data(), offset.size());
    Option(out, kOptEnd, nullptr, 0);
    EndBlock(out, start);
}

void AppendPacket(std::string* out, uint32_t interfaceIndex, uint64_t timeUs, Direction direction,
                  const uint8_t* data, size_t length, const std::string& comment) {
    const size_t start = BeginBlock(out, kEnhancedPacket);
    Le32(out, interfaceIndex);
    Le32(out, static_cast<uint32_t>(timeUs >> 32));
    Le32(out, static_cast<uint32_t>(timeUs));
    Le32(out, static_cast<uint32_t>(length));
    Le32(out, static_cast<uint32_t>(length));
    const size_t dataStart = out->size();
    if (length) out->append(reinterpret_cast<const char*>(data), length);
    PadTo4(out, dataStart);
    if (!comment.empty()) Option(out, kOptComment, comment.data(), comment.size());
    std::string flags;
    Le32(&flags, static_cast<uint32_t>(direction));
    Option(out, kEpbFlags, flags.data(), flags.size());
    Option(out, kOptEnd, nullptr, 0);
    EndBlock(out, start);
}

void AppendSocketCanFrame(std::string* out, uint32_t canId, bool extended, bool canFd, const uint8_t* data,
                          size_t length) {
    const size_t room = canFd ? 64 : 8;
    if (length > room) length = room;
    Be32(out, (canId & 0x1FFFFFFF) | (extended ? kCanExtendedFlag : 0));
    out->push_back(static_cast<char>(length));
    out->push_back(static_cast<char>(canFd ? kCanFdFrame | kCanFdBitRateSwitch : 0));
    out->append(2, '\0');
    if (length) out->append(reinterpret_cast<const char*>(data), length);
    out->append(room - length, '\0');
}

void AppendExportedPdu(std::string* out, const char* dissector, const uint8_t* data, size_t length) {
    const size_t nameLength = std::strlen(dissector);
    const size_t padded = (nameLength + 4) & ~size_t(3);  // NUL-terminated, to a multiple of 4
    Be16(out, kExportedPduDissectorName);
    Be16(out, static_cast<uint16_t>(padded));
    out->append(dissector, nameLength);
    out->append(padded - nameLength, '\0');
    Be16(out, 0);  // end of tags
    Be16(out, 0);
    if (length) out->append(reinterpret_cast<const char*>(data), length);
}

}  // namespace pcapng
