#include "vcisim/ecu_isotp.h"

#include <algorithm>

namespace vcisim {

namespace {
// Time between the WAIT flow controls of an ECU that asks for them.
constexpr uint64_t kFlowControlWaitGapUs = 10000;
}  // namespace

uint64_t CanFrameUs(size_t n, bool fd, bool ext, uint32_t nominalBaud, uint32_t dataBaud) {
    if (!fd) {
        // SOF .. IFS of a classic data frame: 47 bits (11-bit id) or 67 bits (29-bit id) + 8n,
        // plus one stuff bit per 5 bits of the stuffed part (SOF to CRC).
        double stuffed = (ext ? 54.0 : 34.0) + 8.0 * double(n);
        double bits = (ext ? 67.0 : 47.0) + 8.0 * double(n) + stuffed / 5.0;
        return uint64_t(bits * 1e6 / nominalBaud + 0.999);
    }
    // CAN FD with bit-rate switch: arbitration and end of frame at the nominal rate, the data
    // phase (ESI, DLC, data, stuff count, CRC 17/21) at the data rate.
    n = FdFrameLength(n);
    double arb = (ext ? 50.0 : 30.0);
    double data = 5.0 + 8.0 * double(n) + (n > 16 ? 26.0 : 22.0);
    data += data / 5.0;
    return uint64_t(arb * 1e6 / nominalBaud + data * 1e6 / dataBaud + 0.999);
}

uint64_t BusTiming::FrameUs(size_t n, bool fd, bool ext) const {
    return timed ? CanFrameUs(n, fd, ext, nominalBaud, dataBaud) : 0;
}

uint64_t SimBus::Send(uint64_t readyUs, size_t dataBytes, bool fd, bool ext) {
    if (!timing.timed) return readyUs;
    uint64_t start = std::max(readyUs, freeAtUs);
    uint64_t end = start + timing.FrameUs(dataBytes, fd, ext);
    freeAtUs = end;
    return end;
}

uint64_t StMinToUs(uint8_t s) {
    if (s <= 0x7F) return uint64_t(s) * 1000;
    if (s >= 0xF1 && s <= 0xF9) return uint64_t(s - 0xF0) * 100;
    return 127000;
}

size_t FdFrameLength(size_t n) {
    static const size_t lens[] = {8, 12, 16, 20, 24, 32, 48, 64};
    if (n <= 8) return n;
    for (size_t l : lens)
        if (n <= l) return l;
    return 64;
}

uint64_t IsoTpTransferEndUs(size_t len, size_t maxFrame, uint8_t bs, uint8_t stMin, SimBus& bus,
                            uint64_t startUs, bool fd, bool ext) {
    size_t single = len <= 7 ? len + 1 : len + 2;
    if (single <= maxFrame) return bus.Send(startUs, single, fd, ext);
    uint64_t t = bus.Send(startUs, maxFrame, fd, ext);  // first frame
    size_t left = len - (maxFrame - (len > 4095 ? 6 : 2));
    uint64_t gap = StMinToUs(stMin);
    while (left > 0) {
        t = bus.Send(t, 8, fd, ext);  // flow control from the receiver
        unsigned inBlock = 0;
        bool first = true;
        while (left > 0 && (bs == 0 || inBlock < bs)) {
            size_t n = std::min(left, maxFrame - 1);
            t = bus.Send(first ? t : t + gap, n + 1, fd, ext);
            first = false;
            left -= n;
            ++inBlock;
        }
    }
    return t;
}

Bytes EcuIsoTpSession::Frame(Bytes d) const {
    size_t want = d.size() <= 8 ? (cfg_.padding ? 8 : d.size()) : FdFrameLength(d.size());
    while (d.size() < want) d.push_back(cfg_.padByte);
    return d;
}

void EcuIsoTpSession::OnTesterFrame(const Bytes& d, bool fd, uint64_t now, SimBus& bus, std::vector<TimedFrame>* out,
                                    Bytes* request, bool* complete) {
    *complete = false;
    if (d.empty()) return;
    uint8_t type = d[0] >> 4;
    if (type <= 1) {  // a new request: the ECU's frames follow its format
        fd_ = fd;
        maxFrame_ = fd ? 64 : 8;
    }
    auto sendFc = [&]() {
        uint64_t at = now;
        for (unsigned i = 0; i < cfg_.flowControlWaits; ++i) {
            Bytes wait = Frame(Bytes{0x31, 0x00, 0x00});
            at = bus.Send(at, wait.size(), fd_, ext_);
            out->push_back({at, wait});
            at += kFlowControlWaitGapUs;
        }
        Bytes fc = Frame(Bytes{0x30, cfg_.blockSize, cfg_.stMin});
        out->push_back({bus.Send(at, fc.size(), fd_, ext_), fc});
    };
    switch (type) {
    case 0: {  // single frame
        size_t len = d[0] & 0x0F, off = 1;
        if (len == 0 && d.size() > 8) {
            len = d[1];
            off = 2;
        }
        if (len == 0 || off + len > d.size()) return;
        rxActive_ = false;
        request->assign(d.begin() + off, d.begin() + off + len);
        *complete = true;
        return;
    }
    case 1: {  // first frame
        if (d.size() < 8) return;
        uint32_t total = uint32_t(d[0] & 0x0F) << 8 | d[1];
        size_t off = 2;
        if (total == 0) {
            total = uint32_t(d[2]) << 24 | uint32_t(d[3]) << 16 | uint32_t(d[4]) << 8 | d[5];
            off = 6;
        }
        if (total <= 7) return;
        if (cfg_.flowControlOverflow) {  // the message is refused
            rxActive_ = false;
            Bytes fc = Frame(Bytes{0x32, 0x00, 0x00});
            out->push_back({bus.Send(now, fc.size(), fd_, ext_), fc});
            return;
        }
        rxActive_ = true;
        rxTotal_ = total;
        rxBuf_.assign(d.begin() + off, d.end());
        if (rxBuf_.size() > total) rxBuf_.resize(total);
        rxSn_ = 1;
        rxBlockCount_ = 0;
        sendFc();
        return;
    }
    case 2: {  // consecutive frame
        if (!rxActive_) return;
        if ((d[0] & 0x0F) != rxSn_) {  // wrong sequence number: the message is dropped
            rxActive_ = false;
            return;
        }
        rxSn_ = uint8_t((rxSn_ + 1) & 0x0F);
        size_t n = std::min(d.size() - 1, size_t(rxTotal_) - rxBuf_.size());
        rxBuf_.insert(rxBuf_.end(), d.begin() + 1, d.begin() + 1 + n);
        if (rxBuf_.size() >= rxTotal_) {
            rxActive_ = false;
            *request = rxBuf_;
            *complete = true;
            return;
        }
        if (cfg_.blockSize != 0 && ++rxBlockCount_ >= cfg_.blockSize) {
            rxBlockCount_ = 0;
            sendFc();
        }
        return;
    }
    case 3: {  // flow control from the tester
        if (!txWaitingFc_ || d.size() < 3) return;
        uint8_t fs = d[0] & 0x0F;
        if (fs == 1) return;  // wait
        if (fs != 0) {        // overflow or invalid: abort
            txWaitingFc_ = false;
            txBuf_.clear();
            return;
        }
        SendBlock(now, d[1], d[2], bus, out);
        return;
    }
    default:
        return;
    }
}

void EcuIsoTpSession::StartResponse(const Bytes& p, uint64_t at, SimBus& bus, std::vector<TimedFrame>* out) {
    size_t sfMax = maxFrame_ > 8 ? maxFrame_ - 2 : 7;
    if (p.size() <= 7 || (maxFrame_ > 8 && p.size() <= sfMax)) {
        Bytes f;
        if (p.size() <= 7) {
            f.push_back(uint8_t(p.size()));
        } else {
            f.push_back(0x00);
            f.push_back(uint8_t(p.size()));
        }
        f.insert(f.end(), p.begin(), p.end());
        f = Frame(f);
        out->push_back({bus.Send(at, f.size(), fd_, ext_), f});
        return;
    }
    Bytes f;
    size_t off;
    if (p.size() <= 4095) {
        f = {uint8_t(0x10 | (p.size() >> 8)), uint8_t(p.size())};
    } else {
        f = {0x10, 0x00, uint8_t(p.size() >> 24), uint8_t(p.size() >> 16), uint8_t(p.size() >> 8), uint8_t(p.size())};
    }
    off = std::min(p.size(), maxFrame_ - f.size());
    f.insert(f.end(), p.begin(), p.begin() + off);
    f = Frame(f);
    out->push_back({bus.Send(at, f.size(), fd_, ext_), f});
    txBuf_ = p;
    txOffset_ = off;
    txSn_ = 1;
    txWaitingFc_ = true;
}

void EcuIsoTpSession::SendBlock(uint64_t start, uint8_t bs, uint8_t stMin, SimBus& bus, std::vector<TimedFrame>* out) {
    uint64_t gap = StMinToUs(stMin);
    uint64_t t = start;
    unsigned sent = 0;
    while (txOffset_ < txBuf_.size() && (bs == 0 || sent < bs)) {
        size_t n = std::min(txBuf_.size() - txOffset_, maxFrame_ - 1);
        Bytes f{uint8_t(0x20 | txSn_)};
        f.insert(f.end(), txBuf_.begin() + txOffset_, txBuf_.begin() + txOffset_ + n);
        f = Frame(f);
        uint64_t ready = sent == 0 ? t : t + gap;
        t = bus.Send(ready, f.size(), fd_, ext_);
        out->push_back({t, f});
        txOffset_ += n;
        txSn_ = uint8_t((txSn_ + 1) & 0x0F);
        ++sent;
    }
    txWaitingFc_ = txOffset_ < txBuf_.size();
    if (!txWaitingFc_) txBuf_.clear();
}

}  // namespace vcisim
