// The fuzzer's bytes read as the values a target needs; past the end every read gives zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct FuzzInput {
    const uint8_t* p;
    size_t n;
    uint8_t Byte() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
    uint32_t U32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(Byte()) << (8 * i);
        return v;
    }
    bool Flag() { return Byte() & 1; }
    std::vector<uint8_t> Take(size_t count) {
        count = count < n ? count : n;
        std::vector<uint8_t> out(p, p + count);
        p += count;
        n -= count;
        return out;
    }
    // One of the values a host would pass, or now and then any 32-bit value.
    template <size_t N>
    uint32_t Pick(const uint32_t (&values)[N]) {
        const uint8_t b = Byte();
        return b >= 0xF8 ? U32() : values[b % N];
    }
};
