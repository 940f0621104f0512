#include "tools/json_object.h"

#include <cstdint>
#include <cstdio>

namespace {

struct Reader {
    explicit Reader(const std::string& text) : s(text) {}
    const std::string& s;
    size_t pos = 0;
    std::string error;

    bool Fail(const std::string& what) {
        if (error.empty()) error = what + " at offset " + std::to_string(pos);
        return false;
    }
    void SkipBlanks() {
        while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\n' || s[pos] == '\r')) ++pos;
    }
    bool Take(char c) {
        SkipBlanks();
        if (pos < s.size() && s[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    bool Word(const char* w) {
        size_t n = std::char_traits<char>::length(w);
        if (s.compare(pos, n, w) != 0) return false;
        pos += n;
        return true;
    }

    static void AppendUtf8(std::string* out, uint32_t cp) {
        if (cp < 0x80) {
            *out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            *out += static_cast<char>(0xC0 | (cp >> 6));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *out += static_cast<char>(0xE0 | (cp >> 12));
            *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | (cp >> 18));
            *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool Hex4(uint32_t* out) {
        if (pos + 4 > s.size()) return Fail("short \\u escape");
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            char c = s[pos++];
            v <<= 4;
            if (c >= '0' && c <= '9') v |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') v |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v |= static_cast<uint32_t>(c - 'A' + 10);
            else return Fail("bad \\u escape");
        }
        *out = v;
        return true;
    }

    bool String(std::string* out) {
        if (!Take('"')) return Fail("expected a string");
        out->clear();
        while (pos < s.size()) {
            unsigned char c = static_cast<unsigned char>(s[pos++]);
            if (c == '"') return true;
            if (c < 0x20) return Fail("control character in a string");
            if (c != '\\') {
                *out += static_cast<char>(c);
                continue;
            }
            if (pos >= s.size()) break;
            char e = s[pos++];
            switch (e) {
                case '"': *out += '"'; break;
                case '\\': *out += '\\'; break;
                case '/': *out += '/'; break;
                case 'b': *out += '\b'; break;
                case 'f': *out += '\f'; break;
                case 'n': *out += '\n'; break;
                case 'r': *out += '\r'; break;
                case 't': *out += '\t'; break;
                case 'u': {
                    uint32_t cp = 0;
                    if (!Hex4(&cp)) return false;
                    if (cp >= 0xD800 && cp < 0xDC00) {
                        uint32_t low = 0;
                        if (!Word("\\u") || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return Fail("bad surrogate pair");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    AppendUtf8(out, cp);
                    break;
                }
                default: return Fail("bad escape");
            }
        }
        return Fail("unterminated string");
    }

    bool Number(std::string* out) {
        size_t start = pos;
        auto digits = [&] {
            size_t from = pos;
            while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
            return pos > from;
        };
        if (pos < s.size() && s[pos] == '-') ++pos;
        if (!digits()) return Fail("bad number");
        if (pos < s.size() && s[pos] == '.') {
            ++pos;
            if (!digits()) return Fail("bad number");
        }
        if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
            ++pos;
            if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) ++pos;
            if (!digits()) return Fail("bad number");
        }
        *out = s.substr(start, pos - start);
        return true;
    }

    // Any value; depth bounds nesting so that a hostile file cannot exhaust the stack.
    bool Value(JsonMember* m, int depth) {
        if (depth > 64) return Fail("nested too deep");
        SkipBlanks();
        if (pos >= s.size()) return Fail("expected a value");
        char c = s[pos];
        if (c == '"') {
            m->kind = JsonMember::Kind::String;
            return String(&m->text);
        }
        if (c == '{' || c == '[') {
            m->kind = JsonMember::Kind::Nested;
            return Container(depth + 1);
        }
        if (Word("true") || Word("false")) {
            m->kind = JsonMember::Kind::Bool;
            m->flag = s.compare(pos - 4, 4, "true") == 0;
            return true;
        }
        if (Word("null")) {
            m->kind = JsonMember::Kind::Null;
            return true;
        }
        m->kind = JsonMember::Kind::Number;
        return Number(&m->text);
    }

    bool Container(int depth) {
        bool object = s[pos++] == '{';
        char close = object ? '}' : ']';
        if (Take(close)) return true;
        do {
            JsonMember inner;
            if (object && (!String(&inner.name) || !Take(':'))) return Fail("expected \"name\":");
            if (!Value(&inner, depth)) return false;
        } while (Take(','));
        return Take(close) || Fail(object ? "expected , or }" : "expected , or ]");
    }
};

}  // namespace

bool ParseJsonObject(const std::string& text, std::vector<JsonMember>* members, std::string* error) {
    members->clear();
    Reader r(text);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) r.pos = 3;
    bool ok = r.Take('{') || r.Fail("not a JSON object");
    if (ok && !r.Take('}')) {
        do {
            JsonMember m;
            if (!r.String(&m.name) || !r.Take(':')) {
                ok = r.Fail("expected \"name\":");
                break;
            }
            if (!r.Value(&m, 1)) {
                ok = false;
                break;
            }
            members->push_back(m);
        } while (r.Take(','));
        ok = ok && (r.Take('}') || r.Fail("expected , or }"));
    }
    if (ok) {
        r.SkipBlanks();
        if (r.pos != text.size()) ok = r.Fail("text after the object");
    }
    if (!ok) {
        members->clear();
        if (error) *error = r.error;
    }
    return ok;
}

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}
