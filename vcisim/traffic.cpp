#include "vcisim/traffic.h"

#include <algorithm>
#include <string>

#include "vcisim/calls.h"

namespace vcisim {
namespace {

// Frames of the run that have arrived by now.
uint64_t ArrivedFrames(const Generator& g, uint64_t now) {
    uint64_t elapsed = now - g.startUs;
    return elapsed / g.periodNum * g.periodDen + elapsed % g.periodNum * g.periodDen / g.periodNum;
}

uint64_t ArrivalUs(const Generator& g, uint64_t k) {
    return g.startUs + ((k + 1) * g.periodNum + g.periodDen - 1) / g.periodDen;
}

void Generated(Sim& s, Link& l, uint64_t n) {
    l.counts.generated += n;
    s.totals.generated += n;
}

void Dropped(Sim& s, Link& l, uint64_t n) {
    l.counts.dropped += n;
    s.totals.dropped += n;
}

Event FrameEvent(const TrafficDef& t, const Generator& g, uint64_t k) {
    uint64_t seq = g.seqBase + k;
    uint32_t id = t.canId + uint32_t(seq % t.idCount);
    Event e;
    e.dueUs = e.txDoneUs = e.startUs = ArrivalUs(g, k);
    e.itemType = PDU_IT_RESULT;
    e.hCoP = g.hCoP;
    e.copTag = g.tag;
    e.generated = true;
    e.data = {uint8_t(id >> 24), uint8_t(id >> 16), uint8_t(id >> 8), uint8_t(id),
              uint8_t(seq >> 24), uint8_t(seq >> 16), uint8_t(seq >> 8), uint8_t(seq)};
    for (uint32_t i = 4; i < t.dataLength; ++i) e.data.push_back(uint8_t(~e.data[i]));
    return e;
}

}  // namespace

void StartTraffic(Sim& s, Link& l, uint32_t hCoP) {
    const TrafficDef& t = s.sc.traffic;
    Generator& g = l.gen;
    if (!t.on || l.rsc.kind != LinkKind::RawCan || g.running) return;
    CatchUp(s, l);
    g.running = true;
    g.startUs = NowUs();
    g.made = 0;
    g.seqBase = l.counts.generated;  // a restart goes on counting
    g.hCoP = hCoP;
    g.tag = l.cops[hCoP].tag;
    if (t.fullLoad) {
        // Back to back, each frame as long as the simulated bus makes it at the link's rate.
        bool extended = t.canId + (t.idCount - 1) > 0x7FF;
        g.periodNum = CanFrameUs(t.dataLength, false, extended, l.params[kCpBaudrate], l.params[kCpFdBaudrate]);
        g.periodDen = 1;
    } else {
        g.periodNum = 1000000;
        g.periodDen = t.rate;
    }
}

void CatchUp(Sim& s, Link& l) {
    uint64_t now = NowUs();
    size_t room = s.sc.rxQueueSize;
    Generator& g = l.gen;
    if (g.running) {
        uint64_t arrived = ArrivedFrames(g, now);
        // Frames older than the newest `room` cannot survive in the queue: they are counted, not made.
        if (arrived - g.made > room) {
            uint64_t lost = arrived - g.made - room;
            Generated(s, l, lost);
            Dropped(s, l, lost);
            g.made += lost;
        }
        for (; g.made < arrived; ++g.made) {
            PushEvent(l, FrameEvent(s.sc.traffic, g, g.made));
            Generated(s, l, 1);
        }
    }
    auto due = std::upper_bound(l.events.begin(), l.events.end(), now,
                                [](uint64_t t, const Event& e) { return t < e.dueUs; });
    size_t waiting = size_t(due - l.events.begin());
    if (waiting > room) {
        l.events.erase(l.events.begin(), l.events.begin() + std::ptrdiff_t(waiting - room));
        Dropped(s, l, waiting - room);
    }
}

void CancelTraffic(Sim& s, Link& l, uint32_t hCoP) {
    Generator& g = l.gen;
    if (!g.running || g.hCoP != hCoP) return;
    CatchUp(s, l);
    for (const auto& kv : l.cops) {
        if (kv.first != hCoP && kv.second.receiving && !kv.second.cancelled) {
            g.hCoP = kv.first;
            g.tag = kv.second.tag;
            return;
        }
    }
    g.running = false;
}

void EndTraffic(Sim& s, Link& l) {
    CatchUp(s, l);
    l.gen.running = false;
    const TrafficCounts& c = l.counts;
    if (c.generated != 0 || c.dropped != 0)
        s.trace.Line("# traffic hCLL=" + std::to_string(l.hCLL) + " generated=" + std::to_string(c.generated) +
                     " delivered=" + std::to_string(c.delivered) + " dropped=" + std::to_string(c.dropped));
    l.counts = TrafficCounts();
}

}  // namespace vcisim
