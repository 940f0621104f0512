#include "driver/dpdu/module_selection.h"

#include <cctype>

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string TrimBlanks(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool DeviceNameMatches(const std::string& pattern, const std::string& text) {
    if (pattern.empty()) return true;
    size_t start = 0;
    while (start <= pattern.size()) {
        size_t bar = pattern.find('|', start);
        std::string entry = TrimBlanks(pattern.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (!entry.empty() && ContainsNoCase(text, entry)) return true;
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return false;
}

}  // namespace

bool ContainsNoCase(const std::string& text, const std::string& part) {
    return Lower(text).find(Lower(part)) != std::string::npos;
}

ModuleScore ScoreModule(const std::string& vendor, const std::string& info) {
    const std::string text = Lower(vendor + " " + info);
    const std::string inf = Lower(info);
    auto has = [](const std::string& s, const char* w) { return s.find(w) != std::string::npos; };
    ModuleScore m;
    m.looksMivra = has(text, "mivra") || has(text, "j+vo") || has(text, "orvex3") || has(text, "trx4820");
    m.serial = has(inf, "serialnumber=");
    m.conn = has(inf, "connectiontype=");
    m.connUsb = has(inf, "connectiontype=usb");
    m.connIp = has(inf, "connectiontype=ip");
    m.connWifi = has(inf, "connectiontype=wifi") || has(inf, "connectiontype=wi-fi");
    const bool vendorKey = has(inf, "vendor=");
    const bool nameKey = has(inf, "modulename=");
    m.j2534std = has(inf, "j2534 standard version");
    m.score = 10 * m.looksMivra + 40 * m.serial + 30 * m.conn + 15 * (m.connUsb || m.connIp || m.connWifi) +
              25 * (vendorKey && nameKey && m.serial && m.conn) - 80 * (m.j2534std && !m.serial && !m.conn);
    return m;
}

bool ModuleMatchesFilters(const std::string& vendor, const std::string& info, const std::string& deviceName,
                          const std::string& vendorName, const std::string& serialNumber) {
    const std::string text = vendor + " " + info;
    return DeviceNameMatches(deviceName, text) && (vendorName.empty() || ContainsNoCase(vendor, vendorName)) &&
           (serialNumber.empty() || ContainsNoCase(text, serialNumber));
}
