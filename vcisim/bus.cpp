#include "vcisim/bus.h"

#include <algorithm>

namespace vcisim {
namespace {

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
void PutBe32(Bytes* b, uint32_t v) {
    b->push_back(uint8_t(v >> 24));
    b->push_back(uint8_t(v >> 16));
    b->push_back(uint8_t(v >> 8));
    b->push_back(uint8_t(v));
}

bool SuppressesResponse(const Bytes& p) {
    if (p.size() < 2 || !(p[1] & 0x80)) return false;
    switch (p[0]) {
    case 0x10: case 0x11: case 0x3E: case 0x31: case 0x28: case 0x85: return true;
    default: return false;
    }
}

// Strips an ISO-TP single-frame PCI (and its padding) that a caller left in front of a payload.
void StripSingleFramePci(Bytes* d) {
    if (d->size() < 2 || d->size() > 8) return;
    uint8_t b0 = (*d)[0];
    if ((b0 >> 4) != 0) return;
    size_t len = b0 & 0x0F;
    if (len == 0 || len + 1 > d->size()) return;
    if (d->size() == 2) return;  // 01 XX: OBD service 01 and a PID, not a PCI and a one-byte service
    uint8_t first = (*d)[1];
    // OBD: only services that take parameters, so that a bare freeze-frame request such as
    // 02 04 00 (PID 04, frame 0) is not taken for a PCI in front of 04 00.
    bool obd = ((first == 0x01 || first == 0x06 || first == 0x08 || first == 0x09) && len >= 2) ||
               (first == 0x02 && len >= 3 && len % 2 == 1);
    if (first < 0x10 && !obd) return;
    for (size_t i = len + 1; i < d->size(); ++i)
        if ((*d)[i] != (*d)[len + 1]) return;
    Bytes out(d->begin() + 1, d->begin() + 1 + len);
    *d = out;
}

void NoResponseEvent(Link& l, uint32_t hCoP, void* tag, uint64_t dueUs, uint32_t code, uint32_t extra) {
    Event e;
    e.dueUs = dueUs;
    e.itemType = PDU_IT_ERROR;
    e.hCoP = hCoP;
    e.copTag = tag;
    e.code = code;
    e.extra = extra;
    PushEvent(l, std::move(e));
}

// The frames of one request are timed at the bit rates of the link that sends it.
void UseLinkRates(Module& m, const Link& l) {
    m.bus.timing.nominalBaud = l.params[kCpBaudrate];
    m.bus.timing.dataBaud = l.params[kCpFdBaudrate];
}

void ResultEvent(Link& l, uint32_t hCoP, void* tag, uint64_t dueUs, Bytes data, uint64_t txDone, uint64_t start) {
    Event e;
    e.dueUs = dueUs;
    e.itemType = PDU_IT_RESULT;
    e.hCoP = hCoP;
    e.copTag = tag;
    e.data = std::move(data);
    e.txDoneUs = txDone;
    e.startUs = start;
    PushEvent(l, std::move(e));
}

}  // namespace

void SimulateIso15765(Sim& s, Module& m, Link& l, const Bytes& in, uint32_t hCoP, void* tag, uint32_t timeMs) {
    Bytes d = in;
    uint64_t now = NowUs();
    UseLinkRates(m, l);
    bool header = false;
    uint32_t target = 0;
    if (d.size() >= 5 && (d[0] & 0xE0) == 0) {
        uint32_t id = Be32(d.data());
        // An 11-bit identifier (00 00 0X XX) is always taken as a header; a 29-bit one when it is
        // an identifier the link or an ECU uses.
        bool known = (d[0] == 0 && d[1] == 0 && (d[2] & 0xF8) == 0 && id != 0) || id == l.params[kCpPhysReqId] ||
                     id == l.params[kCpFuncReqId];
        for (const auto& e : s.ecus)
            if (e->Config().bus == EcuBus::Can && (e->Config().requestId == id || e->Config().functionalId == id)) known = true;
        if (known) {
            header = true;
            target = id;
            d.erase(d.begin(), d.begin() + 4);
        }
    }
    if (!header) target = l.params[kCpRequestAddrMode] == 2 ? l.params[kCpFuncReqId] : l.params[kCpPhysReqId];
    StripSingleFramePci(&d);
    bool ext = target > 0x7FF;
    bool fd = l.fd;
    size_t maxFrame = fd ? FdFrameLength(l.params[kCpFdTxMaxLen]) : 8;
    bool resultHeader = s.sc.iso15765ResultHeader == "always" ||
                        (s.sc.iso15765ResultHeader != "never" && (header || l.params[kCpRawMode] == 1 || l.rawFlag));
    bool answered = false;
    uint64_t reqEnd = now;
    bool first = true;
    for (size_t i = 0; i < s.ecus.size(); ++i) {
        DiagnosticEcu& ecu = *s.ecus[i];
        const EcuConfig& c = ecu.Config();
        if (c.bus != EcuBus::Can) continue;
        bool physical = c.requestId == target;
        bool functional = !physical && c.functionalId != 0 && c.functionalId == target;
        if (!physical && !functional) continue;
        if (first) {
            reqEnd = IsoTpTransferEndUs(d.size(), maxFrame, c.blockSize, c.stMin, m.bus, now, fd, ext);
            first = false;
        }
        std::vector<EcuAnswer> answers = l.rsc.kwp ? ecu.HandleKwp(d, functional) : ecu.HandleUds(d, functional);
        if (!header && c.responseId != l.params[kCpRespId]) continue;  // the link does not listen to it
        for (EcuAnswer& a : answers) {
            uint64_t ready = reqEnd + a.delayUs;
            uint64_t end = IsoTpTransferEndUs(a.payload.size(), maxFrame, uint8_t(l.params[kCpBlockSize]),
                                              uint8_t(l.params[kCpStMin]), m.bus, ready, fd, c.responseId > 0x7FF);
            Bytes out;
            if (resultHeader) PutBe32(&out, c.responseId);
            out.insert(out.end(), a.payload.begin(), a.payload.end());
            ResultEvent(l, hCoP, tag, end, std::move(out), reqEnd, ready);
            answered = true;
        }
    }
    if (first) reqEnd = IsoTpTransferEndUs(d.size(), maxFrame, 0, 0, m.bus, now, fd, ext);
    if (!answered && !SuppressesResponse(d)) {
        uint32_t t = timeMs ? timeMs : l.params[kCpP2Max] / 1000;
        NoResponseEvent(l, hCoP, tag, reqEnd + uint64_t(t) * 1000, PDU_ERR_EVT_PROT_ERR, 0x208);
    }
}

T_PDU_ERROR SimulateRawCan(Sim& s, Module& m, Link& l, const Bytes& d, uint32_t hCoP, void* tag) {
    if (d.size() < 4) return PDU_ERR_INVALID_PARAMETERS;
    size_t n = d.size() - 4;
    if (n > 64 || (n > 8 && !l.rsc.fd)) return PDU_ERR_INVALID_PARAMETERS;
    uint32_t id = Be32(d.data()) & 0x1FFFFFFF;
    Bytes frame(d.begin() + 4, d.end());
    // A link set up for CAN FD sends every frame as a CAN FD frame, padded to the next frame
    // length with the filler byte.
    bool fd = n > 8 || l.fd;
    if (fd) frame.resize(FdFrameLength(n), uint8_t(l.params[kCpFillerByte]));
    uint64_t now = NowUs();
    UseLinkRates(m, l);
    uint64_t txEnd = m.bus.Send(now, frame.size(), fd, id > 0x7FF);
    for (size_t i = 0; i < s.ecus.size(); ++i) {
        DiagnosticEcu& ecu = *s.ecus[i];
        const EcuConfig& c = ecu.Config();
        if (c.bus != EcuBus::Can) continue;
        bool physical = c.requestId == id;
        bool functional = !physical && c.functionalId != 0 && c.functionalId == id;
        if (!physical && !functional) continue;
        auto& sess = l.isoTp[i];
        if (!sess) sess.reset(new EcuIsoTpSession(c, c.responseId > 0x7FF));
        std::vector<TimedFrame> frames;
        Bytes request;
        bool complete = false;
        sess->OnTesterFrame(frame, fd, txEnd, m.bus, &frames, &request, &complete);
        if (complete) {
            std::vector<EcuAnswer> answers =
                l.rsc.kwp ? ecu.HandleKwp(request, functional) : ecu.HandleUds(request, functional);
            for (EcuAnswer& a : answers) sess->StartResponse(a.payload, txEnd + a.delayUs, m.bus, &frames);
        }
        for (TimedFrame& f : frames) {
            Bytes out;
            PutBe32(&out, c.responseId);
            out.insert(out.end(), f.data.begin(), f.data.end());
            ResultEvent(l, hCoP, tag, f.dueUs, std::move(out), txEnd, f.dueUs);
        }
    }
    l.cops[hCoP].lastDueUs = std::max(l.cops[hCoP].lastDueUs, txEnd);
    return PDU_STATUS_NOERROR;
}

void SimulateKLine(Sim& s, Module& m, Link& l, const Bytes& d, uint32_t hCoP, void* tag, uint32_t timeMs) {
    (void)m;
    uint64_t now = NowUs();
    Bytes payload = d;
    bool header = false, checksum = false, functional = false;
    uint8_t target = 0, source = 0xF1;
    if (d.size() >= 3 && (d[0] & 0x80) == 0x80) {  // physical (10) or functional (11) addressing
        size_t len = d[0] & 0x3F, hdr = 3;
        if (len == 0 && d.size() >= 4) {
            len = d[3];
            hdr = 4;
        }
        if (hdr + len == d.size() || hdr + len + 1 == d.size()) {
            header = true;
            functional = (d[0] & 0xC0) == 0xC0;
            checksum = hdr + len + 1 == d.size();
            target = d[1];
            source = d[2];
            payload.assign(d.begin() + hdr, d.begin() + hdr + len);
        }
    }
    // A functional request (OBD: C2 33 F1 ...) reaches every K-Line ECU, the others one.
    std::vector<DiagnosticEcu*> ecus;
    for (auto& e : s.ecus)
        if (e->Config().bus == EcuBus::KLine && (!header || functional || e->Config().klineAddress == target)) {
            ecus.push_back(e.get());
            if (!functional) break;
        }
    auto byteUs = [&](size_t bytes) -> uint64_t { return s.sc.timed ? uint64_t(bytes) * 10 * 1000000 / 10400 : 0; };
    uint64_t reqEnd = now + byteUs(d.size());
    uint64_t lineFree = reqEnd;  // one message on the line at a time
    bool answered = false;
    for (DiagnosticEcu* ecu : ecus) {
        for (EcuAnswer& a : ecu->HandleKwp(payload, functional)) {
            Bytes out;
            if (header) {
                if (a.payload.size() < 64) {
                    out = {uint8_t(0x80 | a.payload.size()), source, ecu->Config().klineAddress};
                } else {
                    out = {0x80, source, ecu->Config().klineAddress, uint8_t(a.payload.size())};
                }
            }
            out.insert(out.end(), a.payload.begin(), a.payload.end());
            if (checksum) {
                uint8_t cs = 0;
                for (uint8_t b : out) cs = uint8_t(cs + b);
                out.push_back(cs);
            }
            uint64_t ready = std::max(reqEnd + a.delayUs, lineFree) + (s.sc.timed ? 25000 : 0);
            lineFree = ready + byteUs(out.size());
            ResultEvent(l, hCoP, tag, lineFree, std::move(out), reqEnd, ready);
            answered = true;
        }
    }
    if (!answered) {
        uint32_t t = timeMs ? timeMs : l.params[kCpP2Max] / 1000;
        NoResponseEvent(l, hCoP, tag, reqEnd + uint64_t(t) * 1000, PDU_ERR_EVT_RX_TIMEOUT, 0);
    }
}

void SimulateDoIp(Sim& s, Link& l, const Bytes& d, uint32_t hCoP, void* tag, uint32_t timeMs) {
    uint64_t now = NowUs();
    auto wireUs = [&](size_t n) -> uint64_t { return s.sc.timed ? uint64_t(n + 66) * 8 / 100 + 1 : 0; };
    uint64_t reqEnd = now + wireUs(d.size());
    bool answered = false;
    for (auto& e : s.ecus) {
        if (e->Config().bus != EcuBus::Can || e->Config().doipAddress != l.params[kCpDoipEcuAddress]) continue;
        for (EcuAnswer& a : e->HandleUds(d, false)) {
            uint64_t ready = reqEnd + a.delayUs;
            ResultEvent(l, hCoP, tag, ready + wireUs(a.payload.size()), a.payload, reqEnd, ready);
            answered = true;
        }
        break;
    }
    if (!answered && !SuppressesResponse(d)) {
        uint32_t t = timeMs ? timeMs : l.params[kCpP2Max] / 1000;
        NoResponseEvent(l, hCoP, tag, reqEnd + uint64_t(t) * 1000, PDU_ERR_EVT_RX_TIMEOUT, 0);
    }
}

}  // namespace vcisim
