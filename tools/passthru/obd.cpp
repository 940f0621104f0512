#include "tools/passthru/obd.h"

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kFunctionalId = 0x7DF;
// The ECUs answer within 50 ms of a request; what comes later belongs to nobody.
constexpr uint32_t kSettleMs = 200;

struct LivePid {
    uint8_t pid;
    unsigned bytes;
    const char* format;  // printf format of the value
    double scale;        // value = raw * scale + offset
    double offset;
};
const LivePid kLivePids[] = {
    {0x0C, 2, "%.1f rpm", 0.25, 0},         {0x0D, 1, "%.0f km/h", 1, 0},
    {0x05, 1, "coolant %.0f C", 1, -40},    {0x04, 1, "load %.1f %%", 100.0 / 255, 0},
    {0x11, 1, "throttle %.1f %%", 100.0 / 255, 0}, {0x2F, 1, "fuel %.1f %%", 100.0 / 255, 0},
};

// The positive answers by response id; the request counts as answered when there is one.
std::map<uint32_t, Bytes> Ask(UdsSession& s, const Bytes& request, ObdTally* tally) {
    ++tally->requests;
    std::printf("> %s\n", HexText(request).c_str());
    std::vector<EcuReply> replies;
    std::string error;
    if (!RequestAllAnswers(s, kFunctionalId, request, kSettleMs, &replies, &error)) {
        std::printf("  %s\n", error.c_str());
        return {};
    }
    std::map<uint32_t, Bytes> positive;
    for (const EcuReply& r : replies) {
        if (ClassifyAnswer(request[0], r.data) == AnswerKind::Positive) positive[r.id] = r.data;
        else std::printf("  %03X  %s   negative: %s\n", r.id, HexText(r.data).c_str(), NegativeResponseName(r.data[2]));
    }
    if (positive.empty()) std::printf("  no answer within %u ms\n", s.options.timeoutMs);
    else ++tally->answered;
    return positive;
}

std::string Dtc(uint8_t high, uint8_t low) {
    char text[8];
    std::snprintf(text, sizeof text, "%c%X%03X", "PCBU"[high >> 6], (high >> 4) & 0x03, unsigned(high & 0x0F) << 8 | low);
    return text;
}

}  // namespace

void RunObdScan(UdsSession& s, ObdTally* tally) {
    // Supported PIDs: the bitmap 00, then 20 and 40 as far as an ECU announces them.
    std::map<uint32_t, std::set<unsigned>> pids;
    for (unsigned base = 0; base <= 0x40; base += 0x20) {
        bool wanted = base == 0;
        for (const auto& e : pids) wanted = wanted || e.second.count(base);
        if (!wanted) break;
        for (const auto& a : Ask(s, {0x01, uint8_t(base)}, tally)) {
            const Bytes& d = a.second;
            for (unsigned bit = 0; bit < 32 && d.size() >= 6; ++bit)
                if (d[2 + bit / 8] & (0x80 >> (bit % 8))) pids[a.first].insert(base + bit + 1);
        }
    }
    std::set<unsigned> anyEcu;
    for (const auto& e : pids) {
        std::string list;
        char n[4];
        for (unsigned p : e.second) {
            if (p % 0x20 == 0) continue;
            anyEcu.insert(p);
            std::snprintf(n, sizeof n, " %02X", p);
            list += n;
        }
        std::printf("  %03X  PIDs%s\n", e.first, list.c_str());
    }

    for (const auto& a : Ask(s, {0x01, 0x01}, tally)) {
        if (a.second.size() < 3) continue;
        const unsigned count = a.second[2] & 0x7F;
        std::printf("  %03X  MIL %s, %u DTC%s\n", a.first, a.second[2] & 0x80 ? "on" : "off", count, count == 1 ? "" : "s");
    }
    for (const auto& a : Ask(s, {0x03}, tally)) {
        std::string list;
        for (size_t i = 2; i + 1 < a.second.size(); i += 2) list += " " + Dtc(a.second[i], a.second[i + 1]);
        std::printf("  %03X  stored DTCs:%s\n", a.first, list.empty() ? " none" : list.c_str());
    }

    Bytes live{0x01};
    for (const LivePid& p : kLivePids)
        if (anyEcu.count(p.pid)) live.push_back(p.pid);
    if (live.size() > 1) {
        for (const auto& a : Ask(s, live, tally)) {
            std::string line;
            const Bytes& d = a.second;
            for (size_t i = 1; i < d.size();) {
                const LivePid* p = nullptr;
                for (const LivePid& k : kLivePids)
                    if (k.pid == d[i]) p = &k;
                if (!p || i + 1 + p->bytes > d.size()) break;  // a PID this program cannot size
                unsigned raw = 0;
                for (unsigned k = 0; k < p->bytes; ++k) raw = raw << 8 | d[i + 1 + k];
                char value[32];
                std::snprintf(value, sizeof value, p->format, raw * p->scale + p->offset);
                line += (line.empty() ? "" : ", ") + std::string(value);
                i += 1 + p->bytes;
            }
            std::printf("  %03X  %s\n", a.first, line.c_str());
        }
    }

    for (const auto& a : Ask(s, {0x09, 0x02}, tally)) {
        std::string vin;
        for (size_t i = 3; i < a.second.size(); ++i)
            if (a.second[i] >= 0x20 && a.second[i] < 0x7F) vin += static_cast<char>(a.second[i]);
        std::printf("  %03X  VIN %s\n", a.first, vin.c_str());
    }
}
