#include "vcisim/trace.h"

namespace vcisim {

void Trace::Open(const std::string& path) {
    std::lock_guard<std::mutex> lk(mu_);
    if (path == path_ && file_) return;
    if (file_) std::fclose(file_);
    file_ = nullptr;
    path_ = path;
    if (!path.empty()) file_ = std::fopen(path.c_str(), "ab");
}

void Trace::Close() {
    std::lock_guard<std::mutex> lk(mu_);
    if (file_) std::fclose(file_);
    file_ = nullptr;
    path_.clear();
}

bool Trace::Enabled() {
    std::lock_guard<std::mutex> lk(mu_);
    return file_ != nullptr;
}

void Trace::Line(const std::string& text) {
    std::lock_guard<std::mutex> lk(mu_);
    if (!file_) return;
    std::fputs(text.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

// Every call with data formats it, traced or not, so it stays cheap: a 4 KB block of a flash
// download is formatted on every send.
std::string HexBytes(const uint8_t* p, size_t n) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s(n ? 3 * n + 1 : 2, ' ');
    s.front() = '[';
    for (size_t i = 0; i < n; ++i) {
        s[1 + 3 * i] = kDigits[p[i] >> 4];
        s[2 + 3 * i] = kDigits[p[i] & 0x0F];
    }
    s.back() = ']';
    return s;
}

std::string Quoted(const char* s) {
    if (!s) return "null";
    std::string out = "\"";
    for (; *s; ++s) {
        unsigned char c = static_cast<unsigned char>(*s);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

}  // namespace vcisim
