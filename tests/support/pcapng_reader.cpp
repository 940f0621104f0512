#include "tests/support/pcapng_reader.h"

#include <cstring>

namespace {
uint16_t Le16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}
uint32_t Le32(const std::string& b, size_t at) { return Le16(b, at) | uint32_t(Le16(b, at + 2)) << 16; }

// Options from `at` to `end`: calls take(code, value) for each until opt_endofopt.
template <typename Take>
bool Options(const std::string& b, size_t at, size_t end, Take take) {
    while (at + 4 <= end) {
        const uint16_t code = Le16(b, at), length = Le16(b, at + 2);
        if (code == 0) return true;
        if (at + 4 + length > end) return false;
        take(code, b.substr(at + 4, length));
        at += 4 + ((length + 3u) & ~3u);
    }
    return at == end;
}
}  // namespace

PcapngFile ReadPcapng(const std::string& b) {
    PcapngFile f;
    size_t at = 0;
    while (at + 12 <= b.size()) {
        const uint32_t type = Le32(b, at), length = Le32(b, at + 4);
        if (length < 12 || length % 4 != 0) {
            f.error = "bad block length at " + std::to_string(at);
            return f;
        }
        if (at + length > b.size()) break;
        if (Le32(b, at + length - 4) != length) {
            f.error = "block lengths differ at " + std::to_string(at);
            return f;
        }
        const size_t body = at + 8, end = at + length - 4;
        bool ok = true;
        if (type == 0x0A0D0D0A) {
            ok = Le32(b, body) == 0x1A2B3C4D;
            if (f.sections++ == 0)
                ok = ok && Options(b, body + 16, end, [&](uint16_t c, const std::string& v) {
                    if (c == 4) f.application = v;
                });
            f.interfaces.clear();
        } else if (type == 1) {
            PcapngInterface i;
            i.linkType = Le16(b, body);
            ok = Options(b, body + 8, end, [&](uint16_t c, const std::string& v) {
                if (c == 2) i.name = v;
                if (c == 9 && v.size() == 1) i.tsResolution = uint8_t(v[0]);
                if (c == 14 && v.size() == 8) i.tsOffset = static_cast<int64_t>(Le32(v, 0) | uint64_t(Le32(v, 4)) << 32);
            });
            f.interfaces.push_back(i);
        } else if (type == 6) {
            PcapngPacket p;
            p.interfaceIndex = Le32(b, body);
            p.time = uint64_t(Le32(b, body + 4)) << 32 | Le32(b, body + 8);
            const uint32_t captured = Le32(b, body + 12);
            const size_t options = body + 20 + ((captured + 3u) & ~3u);
            ok = options <= end && p.interfaceIndex < f.interfaces.size();
            if (ok) {
                p.data = b.substr(body + 20, captured);
                ok = Options(b, options, end, [&](uint16_t c, const std::string& v) {
                    if (c == 1) p.comment = v;
                    if (c == 2 && v.size() == 4) p.flags = Le32(v, 0);
                });
            }
            f.packets.push_back(p);
        }
        if (!ok) {
            f.error = "bad block of type " + std::to_string(type) + " at " + std::to_string(at);
            return f;
        }
        f.blockTypes.push_back(type);
        at += length;
    }
    f.trailingBytes = b.size() - at;
    return f;
}

namespace {
uint16_t Be16(const std::string& b, size_t at) { return static_cast<uint16_t>(uint8_t(b[at]) << 8 | uint8_t(b[at + 1])); }
}  // namespace

bool SplitExportedPdu(const std::string& data, std::string* dissector, std::string* payload) {
    size_t at = 0;
    dissector->clear();
    while (at + 4 <= data.size()) {
        const uint16_t tag = Be16(data, at), length = Be16(data, at + 2);
        if (at + 4 + length > data.size()) return false;
        if (tag == 0) {
            *payload = data.substr(at + 4);
            return !dissector->empty();
        }
        if (tag == 12) *dissector = std::string(data.c_str() + at + 4);  // up to its NUL
        at += 4 + length;
    }
    return false;
}

bool SplitSocketCan(const std::string& packet, SocketCanFrame* frame) {
    if (packet.size() != 16 && packet.size() != 72) return false;
    const uint32_t id = uint32_t(Be16(packet, 0)) << 16 | Be16(packet, 2);
    frame->extended = (id & 0x80000000u) != 0;
    frame->id = id & 0x1FFFFFFF;
    frame->fd = packet.size() == 72;
    const size_t length = uint8_t(packet[4]);
    if (length > packet.size() - 8) return false;
    frame->data = packet.substr(8, length);
    return true;
}
