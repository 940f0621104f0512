// Dotted-quad IPv4 text, the same on every system.
#include "platform/platform.h"

namespace platform {

bool ParseIpv4(const std::string& text, uint32_t* address) {
    uint32_t value = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        size_t start = pos;
        uint32_t n = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
            n = n * 10 + static_cast<uint32_t>(text[pos] - '0');
            ++pos;
        }
        size_t digits = pos - start;
        if (digits == 0 || n > 255 || (digits > 1 && text[start] == '0')) return false;
        value = (value << 8) | n;
    }
    if (pos != text.size()) return false;
    if (address) *address = value;
    return true;
}

std::string FormatIpv4(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace platform
