#include "tests/controlpad/png_writer.h"

#include <initializer_list>

#include "platform/platform.h"

namespace {

// Deflate bits, least significant first; Huffman codes go in most significant bit first.
struct BitWriter {
    std::string out;
    uint32_t acc = 0;
    int count = 0;
    void Put(uint32_t bits, int n) {
        acc |= bits << count;
        count += n;
        for (; count >= 8; count -= 8, acc >>= 8) out += static_cast<char>(acc & 0xFF);
    }
    void PutCode(uint32_t code, int n) {
        uint32_t reversed = 0;
        for (int i = 0; i < n; ++i) reversed |= ((code >> i) & 1u) << (n - 1 - i);
        Put(reversed, n);
    }
    void Finish() {
        if (count > 0) out += static_cast<char>(acc & 0xFF);
        acc = 0;
        count = 0;
    }
};

// Fixed Huffman code of a literal/length symbol.
void PutSymbol(BitWriter& w, int symbol) {
    if (symbol < 144)
        w.PutCode(0x30 + symbol, 8);
    else if (symbol < 256)
        w.PutCode(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        w.PutCode(symbol - 256, 7);
    else
        w.PutCode(0xC0 + symbol - 280, 8);
}

const int kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// A match of length 3..258 at distance 1 or 3 (a repeated byte or a repeated pixel).
void PutMatch(BitWriter& w, int length, int distance) {
    int code = 28;
    while (kLengthBase[code] > length) --code;
    PutSymbol(w, 257 + code);
    w.Put(static_cast<uint32_t>(length - kLengthBase[code]), kLengthExtra[code]);
    w.PutCode(distance == 1 ? 0 : 2, 5);
}

// One fixed-Huffman block that codes only runs: screenshots of a window are mostly flat.
std::string Deflate(const std::string& data) {
    BitWriter w;
    w.Put(1, 1);  // last block
    w.Put(1, 2);  // fixed codes
    const size_t n = data.size();
    for (size_t i = 0; i < n;) {
        int best = 0, bestDistance = 0;
        for (int d : {1, 3}) {
            if (i < static_cast<size_t>(d)) continue;
            int len = 0;
            while (len < 258 && i + len < n && data[i + len] == data[i + len - d]) ++len;
            if (len > best) best = len, bestDistance = d;
        }
        if (best >= 3) {
            PutMatch(w, best, bestDistance);
            i += static_cast<size_t>(best);
        } else {
            PutSymbol(w, static_cast<unsigned char>(data[i++]));
        }
    }
    PutSymbol(w, 256);
    w.Finish();
    return w.out;
}

void PutBigEndian(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

uint32_t Crc32(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

uint32_t Adler32(const std::string& data) {
    uint32_t a = 1, b = 0;
    for (unsigned char byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void PutChunk(std::string& png, const char* type, const std::string& body) {
    PutBigEndian(png, static_cast<uint32_t>(body.size()));
    const std::string typed = std::string(type) + body;
    png += typed;
    PutBigEndian(png, Crc32(typed));
}

}  // namespace

bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb) {
    const size_t stride = static_cast<size_t>(width) * 3;
    if (width <= 0 || height <= 0 || rgb.size() != stride * static_cast<size_t>(height)) return false;
    // Every row as its difference to the row above (PNG filter "Up").
    std::string rows;
    for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
        rows += '\x02';
        for (size_t x = 0; x < stride; ++x) {
            const uint8_t above = y ? rgb[(y - 1) * stride + x] : 0;
            rows += static_cast<char>(static_cast<uint8_t>(rgb[y * stride + x] - above));
        }
    }
    std::string header;
    PutBigEndian(header, static_cast<uint32_t>(width));
    PutBigEndian(header, static_cast<uint32_t>(height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
    std::string zlib = "\x78\x01" + Deflate(rows);
    PutBigEndian(zlib, Adler32(rows));

    std::string png = "\x89PNG\r\n\x1a\n";
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", zlib);
    PutChunk(png, "IEND", "");
    return platform::WriteWholeFile(path, png);
}
