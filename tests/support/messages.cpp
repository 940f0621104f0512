#include "tests/support/messages.h"

#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

j2534::PASSTHRU_MSG MakeMsg(uint32_t protocolId, const Bytes& data, uint32_t txFlags) {
    j2534::PASSTHRU_MSG m;
    std::memset(&m, 0, sizeof m);
    m.ProtocolID = protocolId;
    m.TxFlags = txFlags;
    m.DataSize = static_cast<uint32_t>(data.size());
    if (!data.empty()) std::memcpy(m.Data, data.data(), data.size());
    return m;
}

Bytes DataOf(const j2534::PASSTHRU_MSG& msg) {
    const uint32_t n = msg.DataSize < j2534::kMaxDataSize ? msg.DataSize : j2534::kMaxDataSize;
    return Bytes(msg.Data, msg.Data + n);
}

Bytes HexBytes(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string word;
    while (in >> word) out.push_back(static_cast<uint8_t>(std::strtoul(word.c_str(), nullptr, 16)));
    return out;
}

namespace {
// Lines of ComPrimitives the VCI accepted.
std::vector<std::string> SendLines(const std::string& trace) {
    std::vector<std::string> lines;
    std::istringstream in(trace);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("PDUStartComPrimitive", 0) == 0 && line.find("-> 0x0 ") != std::string::npos)
            lines.push_back(line);
    return lines;
}
}  // namespace

std::vector<std::string> SentData(const std::string& trace) {
    std::vector<std::string> out;
    for (const std::string& line : SendLines(trace)) {
        size_t d = line.find("data=[");
        if (d == std::string::npos) continue;
        size_t e = line.find(']', d);
        out.push_back(line.substr(d + 6, e - d - 6));
    }
    return out;
}

std::vector<uint64_t> SentTimes(const std::string& trace) {
    std::vector<uint64_t> out;
    for (const std::string& line : SendLines(trace)) {
        size_t t = line.rfind(" t=");
        if (t != std::string::npos) out.push_back(std::strtoull(line.c_str() + t + 3, nullptr, 10));
    }
    return out;
}

namespace {
// Call lines: the scenario and leak lines start with '#' and "LEAK".
std::vector<std::string> CallLines(const std::string& trace) {
    std::vector<std::string> lines;
    std::istringstream in(trace);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("PDU", 0) == 0) lines.push_back(line);
    return lines;
}

// The item reference ("#7(RESULT)") after key in line, empty when there is none.
std::string ItemAfter(const std::string& line, const std::string& key) {
    size_t at = line.find(key);
    if (at == std::string::npos) return {};
    at += key.size();
    size_t end = line.find(')', at);
    return end == std::string::npos ? std::string() : line.substr(at, end + 1 - at);
}
}  // namespace

std::vector<std::string> CalledFunctions(const std::string& trace) {
    std::vector<std::string> out;
    for (const std::string& line : CallLines(trace)) out.push_back(line.substr(0, line.find(' ')));
    return out;
}

std::vector<std::string> LiveItems(const std::string& trace) {
    std::vector<std::string> order;
    std::set<std::string> live;
    for (const std::string& line : CallLines(trace)) {
        const size_t arrow = line.find(" -> 0x0");
        if (arrow == std::string::npos) continue;
        if (line.rfind("PDUDestroyItem ", 0) == 0) {
            live.erase(ItemAfter(line, "item=#"));
            continue;
        }
        for (const char* key : {" item=#", " out=#"}) {
            const std::string item = ItemAfter(line.substr(arrow), key);
            if (!item.empty() && live.insert(item).second) order.push_back(item);
        }
    }
    std::vector<std::string> out;
    for (const std::string& item : order)
        if (live.count(item)) out.push_back("#" + item);
    return out;
}
