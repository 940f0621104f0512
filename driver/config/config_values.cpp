#include "driver/config/config_values.h"

#include <cstring>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = LowerChar(c);
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    return 99;
}

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
        s.replace(pos, from.size(), to);
    return s;
}

// The comma-separated items of a list value, trimmed, empty ones left out.
std::vector<std::string> ListItems(const std::string& value) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= value.size()) {
        size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        std::string item = TrimText(value.substr(start, comma - start));
        start = comma + 1;
        if (!item.empty()) items.push_back(item);
    }
    return items;
}

}  // namespace

std::string TrimText(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsSpace(s[b])) ++b;
    while (e > b && IsSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool EqualsNoCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (LowerChar(a[i]) != LowerChar(b[i])) return false;
    return true;
}

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string LowerAscii(std::string s) {
    for (char& c : s) c = LowerChar(c);
    return s;
}

bool ParseBool(const std::string& value) {
    return value == "1" || EqualsNoCase(value, "true") || EqualsNoCase(value, "yes") || EqualsNoCase(value, "on");
}

bool ParseBool10(const std::string& value) { return value == "1" || EqualsNoCase(value, "true"); }

bool ParseUint(const std::string& value, uint32_t* out) {
    size_t i = 0;
    if (i < value.size() && value[i] == '+') ++i;
    if (i >= value.size() || !IsDigit(value[i])) return false;
    int base = 10;
    if (value[i] == '0' && i + 2 < value.size() && LowerChar(value[i + 1]) == 'x' && DigitValue(value[i + 2]) < 16) {
        base = 16;
        i += 2;
    } else if (value[i] == '0') {
        base = 8;
    }
    uint64_t result = 0;
    for (; i < value.size(); ++i) {
        int d = DigitValue(value[i]);
        if (d >= base) break;
        result = result * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (result > 0xFFFFFFFFull) return false;
    }
    *out = static_cast<uint32_t>(result);
    return true;
}

int32_t ParseDecimalInt(const std::string& value) {
    size_t i = 0;
    while (i < value.size() && IsSpace(value[i])) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
    int64_t result = 0;
    for (; i < value.size() && IsDigit(value[i]); ++i) {
        result = result * 10 + (value[i] - '0');
        if (result > 0x80000000ll) result = 0x80000000ll;
    }
    if (negative) result = -result;
    if (result > 0x7FFFFFFFll) result = 0x7FFFFFFFll;
    return static_cast<int32_t>(result);
}

bool ParseMilliVolts(const std::string& value, uint32_t* out) {
    std::string s;
    for (char c : value)
        if (!IsSpace(c)) s += c;
    if (!s.empty() && (s.back() == 'V' || s.back() == 'v')) s.pop_back();
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    // Whole units and, after a decimal point, up to nine fractional digits in billionths.
    uint64_t whole = 0, frac = 0, scale = 1000000000ull;
    bool digits = false, overflow = false;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
        digits = true;
        if (whole > 0xFFFFFFFFull) {
            overflow = true;  // keep reading the digits, the value is refused below
            continue;
        }
        whole = whole * 10 + static_cast<unsigned>(s[i] - '0');
    }
    const bool hasPoint = s.find('.') != std::string::npos;
    if (hasPoint && i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && IsDigit(s[i]); ++i) {
            digits = true;
            if (scale > 1) {
                scale /= 10;
                frac += static_cast<unsigned>(s[i] - '0') * scale;
            }
        }
    }
    if (!digits || negative || overflow) return false;
    uint64_t mv;
    if (hasPoint) {
        mv = whole * 1000 + (frac + 500000) / 1000000;  // rounded to the nearest millivolt
    } else {
        mv = (whole <= 1000) ? whole * 1000 : whole;
    }
    if (mv == 0 || mv > 0xFFFFFFFFull) return false;
    *out = static_cast<uint32_t>(mv);
    return true;
}

bool ParseIdPairs(const std::string& value, std::vector<std::pair<uint32_t, uint32_t>>* pairs) {
    std::vector<std::pair<uint32_t, uint32_t>> kept;
    for (std::string item : ListItems(value)) {
        item = ReplaceAll(ReplaceAll(item, "->", ":"), "/", ":");
        size_t colon = item.find(':');
        uint32_t tx = 0, rx = 0;
        ParseUint(TrimText(item.substr(0, colon)), &tx);
        if (colon != std::string::npos) ParseUint(TrimText(item.substr(colon + 1)), &rx);
        if (tx >= 1 && tx <= 0x7FF && rx >= 1 && rx <= 0x7FF) kept.emplace_back(tx, rx);
    }
    if (kept.empty()) return false;
    *pairs = kept;
    return true;
}

std::vector<uint32_t> ParseResourceIdList(const std::string& value) {
    std::vector<uint32_t> ids;
    for (const std::string& item : ListItems(value)) {
        uint32_t id = 0;
        if (!ParseUint(item, &id)) continue;
        if (id == 0 || id == 0xFFFFFFFFu || id == 0xFFFFFFFEu) continue;
        ids.push_back(id);
    }
    return ids;
}
