// The OBD-II keys of an [EcuN] section of the scenario file.
#include <cctype>
#include <cstdlib>
#include <locale>
#include <sstream>

#include "vcisim/scenario.h"

namespace vcisim {
namespace {

std::vector<std::string> Items(const std::string& v) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : v + ",") {
        if (c == ',' || c == '|') {
            cur = Trim(cur);
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    return out;
}

// Service, PID and info type numbers are hexadecimal as in the standards ("0C", "0x0C").
bool HexByte(const std::string& text, uint8_t* out) {
    std::string s = Lower(Trim(text));
    if (s.rfind("0x", 0) == 0) s = s.substr(2);
    char* end = nullptr;
    unsigned long v = std::strtoul(s.c_str(), &end, 16);
    if (s.empty() || s.size() > 2 || *end != '\0') return false;
    *out = uint8_t(v);
    return true;
}

// A list of such numbers; `allowed` empty: any but the supported-PID bitmaps (00, 20, ...).
void HexSet(const std::string& key, const std::string& v, const std::set<uint8_t>& allowed, std::set<uint8_t>* out,
            std::vector<std::string>* errors) {
    std::set<uint8_t> parsed;
    for (const std::string& item : Items(v)) {
        uint8_t b = 0;
        if (!HexByte(item, &b) || (!allowed.empty() && !allowed.count(b)) || (allowed.empty() && b % 0x20 == 0)) {
            errors->push_back("bad value for " + key + ": '" + item + "'");
            return;
        }
        parsed.insert(b);
    }
    *out = parsed;
}

Bytes HexData(const std::string& v) {
    Bytes b;
    std::string digits;
    for (char c : v)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        b.push_back(uint8_t(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
    return b;
}

// A PID's value in its unit, or "hex:" and its data bytes; the PID becomes supported.
void ParsePidKey(const std::string& key, const std::string& v, ObdConfig* o, std::vector<std::string>* errors) {
    uint8_t pid = 0;
    if (!HexByte(key.substr(4), &pid) || pid % 0x20 == 0) {
        errors->push_back("bad PID key " + key);
        return;
    }
    Bytes data;
    const std::string value = Trim(v);
    if (Lower(value.substr(0, 4)) == "hex:") {
        data = HexData(value.substr(4));
    } else {
        std::istringstream in(value);
        in.imbue(std::locale::classic());  // a decimal point whatever the host's locale
        double number = 0;
        in >> number;
        if (in.fail() || !in.eof() || !EncodePidValue(pid, number, &data)) data.clear();
    }
    if (data.empty()) {
        errors->push_back("bad value for " + key + ": '" + value + "'");
        return;
    }
    o->fixedPids[pid] = data;
    o->pids.insert(pid);
}

}  // namespace

bool ParseObdEcuKey(const std::string& key, const std::string& v, EcuConfig* e, std::vector<std::string>* errors) {
    ObdConfig& o = e->obd;
    if (key == "obdservices") {
        HexSet(key, v, {0x01, 0x02, 0x03, 0x04, 0x07, 0x09, 0x0A}, &o.services, errors);
    } else if (key == "obdpids") {
        HexSet(key, v, {}, &o.pids, errors);
    } else if (key == "obdinfotypes") {
        HexSet(key, v, {0x02, 0x04, 0x0A}, &o.infoTypes, errors);
    } else if (key == "calibrationid") {
        o.calibrationId = v.substr(0, 16);
    } else if (key == "ecuname") {
        o.ecuName = v;
    } else if (key == "permanentdtcs") {
        o.permanentDtcs.clear();
        for (const std::string& item : Items(v)) {
            bool ok = false;
            uint32_t code = ParseNumber(item, &ok);
            if (ok) o.permanentDtcs.push_back(code);
            else errors->push_back("bad number for " + key + ": '" + item + "'");
        }
    } else if (key.rfind("pid.", 0) == 0) {
        ParsePidKey(key, v, &o, errors);
    } else {
        return false;
    }
    return true;
}

}  // namespace vcisim
