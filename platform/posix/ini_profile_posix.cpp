// INI profile reading and writing with the behaviour of the Windows private-profile functions
// for the files the driver and the control panel use.
#include <cctype>
#include <cstddef>
#include <vector>

#include "platform/platform.h"

namespace platform {

namespace {

struct Line {
    std::string text;  // without the line end
    std::string end;   // "\n", "\r\n" or "" for a last line without one
};

std::vector<Line> SplitLines(const std::string& data) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < data.size()) {
        size_t nl = data.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back({data.substr(start), ""});
            break;
        }
        size_t end = (nl > start && data[nl - 1] == '\r') ? nl - 1 : nl;
        lines.push_back({data.substr(start, end - start), data.substr(end, nl + 1 - end)});
        start = nl + 1;
    }
    return lines;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool SameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Section name of a header line, or false when the line is no header.
bool SectionHeader(const std::string& text, std::string* name) {
    std::string t = Trim(text);
    if (t.empty() || t[0] != '[') return false;
    size_t close = t.find_last_of(']');
    *name = Trim(close == std::string::npos || close == 0 ? t.substr(1) : t.substr(1, close - 1));
    return true;
}

// Key and value of a "key=value" line.
bool KeyLine(const std::string& text, std::string* key, std::string* value) {
    size_t eq = text.find('=');
    if (eq == std::string::npos) return false;
    *key = Trim(text.substr(0, eq));
    *value = Trim(text.substr(eq + 1));
    return !key->empty();
}

// Index of the first line of the first matching section's body, or npos.
size_t FindSection(const std::vector<Line>& lines, const std::string& section) {
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i)
        if (SectionHeader(lines[i].text, &name) && SameNoCase(name, section)) return i + 1;
    return std::string::npos;
}

// Index of the next section header after a body that starts at body, or the line count.
size_t SectionEnd(const std::vector<Line>& lines, size_t body) {
    std::string name;
    size_t i = body;
    while (i < lines.size() && !SectionHeader(lines[i].text, &name)) ++i;
    return i;
}

// Index of the first line in [body, end) that sets key, or npos.
size_t FindKeyLine(const std::vector<Line>& lines, size_t body, size_t end, const std::string& key) {
    std::string k, v;
    for (size_t i = body; i < end; ++i)
        if (KeyLine(lines[i].text, &k, &v) && SameNoCase(k, key)) return i;
    return std::string::npos;
}

bool WriteLines(const std::string& iniPath, const std::vector<Line>& lines) {
    std::string out;
    for (const Line& l : lines) out += l.text + l.end;
    return WriteWholeFile(iniPath, out);
}

bool FindValue(const std::string& iniPath, const std::string& section, const std::string& key, std::string* value) {
    std::string data;
    if (iniPath.empty() || !ReadWholeFile(iniPath, &data)) return false;
    const std::vector<Line> lines = SplitLines(data);
    size_t body = FindSection(lines, section);
    if (body == std::string::npos) return false;
    size_t at = FindKeyLine(lines, body, SectionEnd(lines, body), key);
    if (at == std::string::npos) return false;
    std::string k, v;
    KeyLine(lines[at].text, &k, &v);
    // One pair of enclosing quotes is not part of the value.
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    *value = v;
    return true;
}

}  // namespace

int ProfileGetInt(const std::string& section, const std::string& key, int defaultValue, const std::string& iniPath) {
    std::string v;
    if (!FindValue(iniPath, section, key, &v) || v.empty()) return defaultValue;
    // Decimal with an optional sign; reading stops at the first other character.
    size_t i = 0;
    bool negative = false;
    if (v[i] == '+' || v[i] == '-') negative = v[i++] == '-';
    uint32_t n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) n = n * 10u + static_cast<uint32_t>(v[i] - '0');
    if (negative) n = 0u - n;
    return static_cast<int>(n);
}

std::string ProfileGetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                             const std::string& iniPath, size_t bufferSize) {
    std::string v;
    if (!FindValue(iniPath, section, key, &v)) {
        v = defaultValue;  // Windows drops the default's trailing blanks
        while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.pop_back();
    }
    if (bufferSize == 0) return {};
    if (v.size() > bufferSize - 1) v.resize(bufferSize - 1);
    return v;
}

bool ProfileWriteString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& iniPath) {
    if (iniPath.empty() || section.empty() || key.empty()) return false;
    std::string data;
    ReadWholeFile(iniPath, &data);
    std::vector<Line> lines = SplitLines(data);
    size_t body = FindSection(lines, section);
    if (body == std::string::npos) {
        if (!lines.empty() && lines.back().end.empty()) lines.back().end = "\r\n";
        lines.push_back({"[" + section + "]", "\r\n"});
        lines.push_back({key + "=" + value, "\r\n"});
        return WriteLines(iniPath, lines);
    }
    const size_t end = SectionEnd(lines, body);
    size_t at = FindKeyLine(lines, body, end, key);
    if (at != std::string::npos) {
        std::string k, v;
        KeyLine(lines[at].text, &k, &v);
        lines[at].text = k + "=" + value;
        return WriteLines(iniPath, lines);
    }
    size_t insertAt = body;  // after the section's last non-blank line
    for (size_t i = body; i < end; ++i)
        if (!Trim(lines[i].text).empty()) insertAt = i + 1;
    if (insertAt > 0 && lines[insertAt - 1].end.empty()) lines[insertAt - 1].end = "\r\n";
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), Line{key + "=" + value, "\r\n"});
    return WriteLines(iniPath, lines);
}

bool ProfileDeleteKey(const std::string& section, const std::string& key, const std::string& iniPath) {
    if (iniPath.empty() || section.empty() || key.empty()) return false;
    std::string data;
    if (!ReadWholeFile(iniPath, &data)) return true;
    std::vector<Line> lines = SplitLines(data);
    size_t body = FindSection(lines, section);
    if (body == std::string::npos) return true;
    size_t at = FindKeyLine(lines, body, SectionEnd(lines, body), key);
    if (at == std::string::npos) return true;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
    return WriteLines(iniPath, lines);
}

bool ProfileDeleteSection(const std::string& section, const std::string& iniPath) {
    if (iniPath.empty() || section.empty()) return false;
    std::string data;
    if (!ReadWholeFile(iniPath, &data)) return true;
    std::vector<Line> lines = SplitLines(data);
    size_t body = FindSection(lines, section);
    if (body == std::string::npos) return true;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(body - 1),
                lines.begin() + static_cast<std::ptrdiff_t>(SectionEnd(lines, body)));
    return WriteLines(iniPath, lines);
}

void ProfileFlush(const std::string&) {
    // Every write above goes to the file at once; there is no cache to flush.
}

}  // namespace platform
