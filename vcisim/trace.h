// The call trace: one line per D-PDU call (format in vcisim/README.md).
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace vcisim {

class Trace {
public:
    ~Trace() { Close(); }
    void Open(const std::string& path);  // appends; "" closes
    void Close();
    bool Enabled();
    void Line(const std::string& text);

private:
    std::mutex mu_;
    std::FILE* file_ = nullptr;
    std::string path_;
};

std::string Hex(uint32_t v);                       // "0x1A2B"
std::string HexBytes(const uint8_t* p, size_t n);  // "[01 02 0A]"
std::string Quoted(const char* s);                 // "\"text\"" or null

}  // namespace vcisim
