#include "vcisim/ecu_uds.h"

#include <chrono>

namespace vcisim {

namespace {
Bytes Ascii(const char* s) {
    Bytes b;
    for (; *s; ++s) b.push_back(static_cast<uint8_t>(*s));
    return b;
}
Bytes Negative(uint8_t sid, uint8_t nrc) { return Bytes{0x7F, sid, nrc}; }
bool IsObdService(uint8_t sid) { return sid >= 0x01 && sid <= 0x0A; }
}  // namespace

EcuConfig DefaultEngineEcu() {
    EcuConfig c;
    c.name = "Engine";
    c.requestId = 0x7E0;
    c.responseId = 0x7E8;
    c.functionalId = 0x7DF;
    c.doipAddress = 0x0010;
    c.dids[0xF190] = Ascii("WVSIM000000000001");
    c.dids[0xF187] = Ascii("VS0001A");
    c.dids[0xF18C] = Ascii("SN0000000001");
    c.dids[0xF195] = Ascii("0100");
    c.dids[0xF197] = Ascii("VCISIM ENGINE");
    c.dtcs = {{0x012300, 0x2F}, {0xC14100, 0x09}};
    c.obd = DefaultEngineObd();
    return c;
}

EcuConfig DefaultTransmissionEcu() {
    EcuConfig c = DefaultEngineEcu();
    c.name = "Transmission";
    c.requestId = 0x7E1;
    c.responseId = 0x7E9;
    c.doipAddress = 0x0011;
    c.dids[0xF187] = Ascii("VS0002B");
    c.dids[0xF18C] = Ascii("SN0000000002");
    c.dids[0xF197] = Ascii("VCISIM GEARBOX");
    c.dtcs = {{0x070000, 0x08}};
    c.obd = DefaultTransmissionObd();
    return c;
}

EcuConfig DefaultKLineEcu() {
    EcuConfig c = DefaultEngineEcu();
    c.name = "KLineEngine";
    c.bus = EcuBus::KLine;
    c.requestId = 0;
    c.responseId = 0;
    c.functionalId = 0;
    c.klineAddress = 0x10;
    return c;
}

EcuConfig DefaultEngine29Ecu() {
    EcuConfig c = DefaultEngineEcu();
    c.name = "Engine29";
    c.requestId = 0x18DA10F1;
    c.responseId = 0x18DAF110;
    c.functionalId = 0x18DB33F1;
    c.doipAddress = 0x0012;
    return c;
}

EcuConfig DefaultTransmission29Ecu() {
    EcuConfig c = DefaultTransmissionEcu();
    c.name = "Transmission29";
    c.requestId = 0x18DA18F1;
    c.responseId = 0x18DAF118;
    c.functionalId = 0x18DB33F1;
    c.doipAddress = 0x0013;
    return c;
}

DiagnosticEcu::DiagnosticEcu(const EcuConfig& cfg, std::function<uint64_t()> clockUs)
    : cfg_(cfg), clock_(std::move(clockUs)), seedCounter_(cfg.seedBase) {
    if (!clock_) {
        const auto start = std::chrono::steady_clock::now();
        clock_ = [start] {
            return uint64_t(
                std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
        };
    }
}

std::vector<EcuAnswer> DiagnosticEcu::Schedule(uint8_t sid, Bytes final) {
    std::vector<EcuAnswer> out;
    uint64_t t = uint64_t(cfg_.responseDelayMs) * 1000;
    bool pend = cfg_.responsePending > 0 &&
                (cfg_.pendingServices.empty() || cfg_.pendingServices.count(sid) != 0);
    if (pend) {
        for (unsigned i = 0; i < cfg_.responsePending; ++i) {
            out.push_back({t, Negative(sid, 0x78)});
            t += uint64_t(cfg_.pendingDelayMs) * 1000;
        }
    }
    out.push_back({t, std::move(final)});
    return out;
}

std::vector<EcuAnswer> DiagnosticEcu::HandleUds(const Bytes& request, bool functional) {
    if (cfg_.silent || request.empty()) return {};
    uint8_t sid = request[0];
    if (cfg_.ignoredServices.count(sid)) return {};
    if (IsObdService(sid)) return ScheduleObd(sid, RespondObd(request, functional, false));
    bool suppress = false;
    Bytes r = Respond(request, functional, &suppress);
    if (suppress || r.empty()) return {};
    return Schedule(sid, std::move(r));
}

Bytes DiagnosticEcu::Respond(const Bytes& q, bool functional, bool* suppress) {
    uint8_t sid = q[0];
    size_t n = q.size();
    auto spr = [&](uint8_t sub) { return (sub & 0x80) != 0; };
    switch (sid) {
    case 0x10: {  // DiagnosticSessionControl
        if (n != 2) return Negative(sid, 0x13);
        uint8_t s = q[1] & 0x7F;
        if (s < 1 || s > 3) return functional ? Bytes{} : Negative(sid, 0x12);
        session_ = s;
        unlockedLevel_ = 0;
        *suppress = spr(q[1]);
        return Bytes{0x50, s, 0x00, 0x32, 0x01, 0xF4};
    }
    case 0x11: {  // ECUReset
        if (n != 2) return Negative(sid, 0x13);
        uint8_t s = q[1] & 0x7F;
        if (s < 1 || s > 3) return Negative(sid, 0x12);
        session_ = 1;
        unlockedLevel_ = 0;
        downloadActive_ = false;
        *suppress = spr(q[1]);
        return Bytes{0x51, s};
    }
    case 0x3E: {  // TesterPresent
        if (n != 2) return Negative(sid, 0x13);
        if ((q[1] & 0x7F) != 0) return Negative(sid, 0x12);
        *suppress = spr(q[1]);
        return Bytes{0x7E, 0x00};
    }
    case 0x22: {  // ReadDataByIdentifier (one or more)
        if (n < 3 || (n - 1) % 2 != 0) return Negative(sid, 0x13);
        Bytes r{0x62};
        for (size_t i = 1; i + 1 < n; i += 2) {
            uint16_t did = uint16_t(q[i] << 8 | q[i + 1]);
            Bytes data;
            if (did == 0xF186) {
                data = {session_};
            } else {
                auto it = cfg_.dids.find(did);
                if (it == cfg_.dids.end()) continue;
                data = it->second;
            }
            r.push_back(q[i]);
            r.push_back(q[i + 1]);
            r.insert(r.end(), data.begin(), data.end());
        }
        if (r.size() == 1) return functional ? Bytes{} : Negative(sid, 0x31);
        return r;
    }
    case 0x2E: {  // WriteDataByIdentifier
        if (n < 4) return Negative(sid, 0x13);
        uint16_t did = uint16_t(q[1] << 8 | q[2]);
        if (did == 0xF186) return Negative(sid, 0x31);
        cfg_.dids[did] = Bytes(q.begin() + 3, q.end());
        return Bytes{0x6E, q[1], q[2]};
    }
    case 0x19: {  // ReadDTCInformation
        if (n < 2) return Negative(sid, 0x13);
        uint8_t sub = q[1] & 0x7F;
        if (sub == 0x01 || sub == 0x02) {
            if (n != 3) return Negative(sid, 0x13);
            uint8_t mask = q[2];
            Bytes r{0x59, sub, 0xFF};
            unsigned count = 0;
            for (const Dtc& d : cfg_.dtcs) {
                if ((d.status & mask) == 0) continue;
                ++count;
                if (sub == 0x02) {
                    r.push_back(uint8_t(d.code >> 16));
                    r.push_back(uint8_t(d.code >> 8));
                    r.push_back(uint8_t(d.code));
                    r.push_back(d.status);
                }
            }
            if (sub == 0x01) {
                r.push_back(0x01);  // ISO 14229-1 DTC format
                r.push_back(uint8_t(count >> 8));
                r.push_back(uint8_t(count));
            }
            return r;
        }
        return Negative(sid, 0x12);
    }
    case 0x14: {  // ClearDiagnosticInformation
        if (n != 4) return Negative(sid, 0x13);
        uint32_t group = uint32_t(q[1]) << 16 | uint32_t(q[2]) << 8 | q[3];
        if (group == 0xFFFFFF) {
            cfg_.dtcs.clear();
        } else {
            std::vector<Dtc> kept;
            for (const Dtc& d : cfg_.dtcs)
                if (d.code != group) kept.push_back(d);
            cfg_.dtcs = kept;
        }
        return Bytes{0x54};
    }
    case 0x27: {  // SecurityAccess
        if (n < 2) return Negative(sid, 0x13);
        uint8_t sub = q[1] & 0x7F;
        if (sub == 0) return Negative(sid, 0x12);
        if (sub % 2 == 1) {  // requestSeed
            if (n != 2) return Negative(sid, 0x13);
            uint32_t seed = 0;
            if (unlockedLevel_ != sub) {
                seed = seedCounter_++;
                if (seed == 0) seed = seedCounter_++;
            }
            lastSeed_ = seed;
            seedLevel_ = sub;
            return Bytes{0x67, sub, uint8_t(seed >> 24), uint8_t(seed >> 16), uint8_t(seed >> 8), uint8_t(seed)};
        }
        if (n != 6) return Negative(sid, 0x13);
        if (seedLevel_ + 1 != sub || lastSeed_ == 0) return Negative(sid, 0x24);
        uint32_t key = uint32_t(q[2]) << 24 | uint32_t(q[3]) << 16 | uint32_t(q[4]) << 8 | q[5];
        seedLevel_ = 0;
        if (key != (lastSeed_ ^ cfg_.securityMask)) return Negative(sid, 0x35);
        unlockedLevel_ = uint8_t(sub - 1);
        return Bytes{0x67, sub};
    }
    case 0x31: {  // RoutineControl
        if (n < 4) return Negative(sid, 0x13);
        uint8_t sub = q[1] & 0x7F;
        if (sub < 1 || sub > 3) return Negative(sid, 0x12);
        *suppress = spr(q[1]);
        return Bytes{0x71, sub, q[2], q[3], 0x00};
    }
    case 0x28:  // CommunicationControl
        if (n < 3) return Negative(sid, 0x13);
        *suppress = spr(q[1]);
        return Bytes{0x68, uint8_t(q[1] & 0x7F)};
    case 0x85:  // ControlDTCSetting
        if (n < 2) return Negative(sid, 0x13);
        *suppress = spr(q[1]);
        return Bytes{0xC5, uint8_t(q[1] & 0x7F)};
    case 0x34: {  // RequestDownload
        if (n < 3) return Negative(sid, 0x13);
        unsigned sizeLen = q[2] >> 4, addrLen = q[2] & 0x0F;
        if (sizeLen < 1 || sizeLen > 4 || addrLen < 1 || addrLen > 4 || n != 3 + sizeLen + addrLen)
            return Negative(sid, 0x13);
        uint32_t size = 0;
        for (unsigned i = 0; i < sizeLen; ++i) size = size << 8 | q[3 + addrLen + i];
        downloadActive_ = true;
        downloadSize_ = size;
        downloadReceived_ = 0;
        nextBlockCounter_ = 1;
        return Bytes{0x74, 0x20, uint8_t(cfg_.maxBlockLength >> 8), uint8_t(cfg_.maxBlockLength)};
    }
    case 0x36: {  // TransferData
        if (n < 2) return Negative(sid, 0x13);
        if (!downloadActive_) return Negative(sid, 0x24);
        if (n > cfg_.maxBlockLength) return Negative(sid, 0x13);
        if (q[1] != nextBlockCounter_) return Negative(sid, 0x73);
        uint32_t chunk = uint32_t(n - 2);
        if (downloadSize_ != 0 && downloadReceived_ + chunk > downloadSize_) return Negative(sid, 0x71);
        downloadReceived_ += chunk;
        downloaded_ += chunk;
        nextBlockCounter_ = uint8_t(nextBlockCounter_ + 1);
        return Bytes{0x76, q[1]};
    }
    case 0x37:  // RequestTransferExit
        if (!downloadActive_) return Negative(sid, 0x24);
        downloadActive_ = false;
        ++completedDownloads_;
        return Bytes{0x77};
    default:
        return functional ? Bytes{} : Negative(sid, 0x11);
    }
}

std::vector<EcuAnswer> DiagnosticEcu::HandleKwp(const Bytes& request, bool functional) {
    if (cfg_.silent || request.empty()) return {};
    uint8_t sid = request[0];
    if (cfg_.ignoredServices.count(sid)) return {};
    if (IsObdService(sid)) return ScheduleObd(sid, RespondObd(request, functional, cfg_.bus == EcuBus::KLine));
    Bytes r = RespondKwp(request);
    if (r.empty()) return {};
    return Schedule(sid, std::move(r));
}

Bytes DiagnosticEcu::RespondKwp(const Bytes& q) {
    uint8_t sid = q[0];
    size_t n = q.size();
    switch (sid) {
    case 0x81:  // StartCommunication: key bytes 0x8F 0xEF (KWP2000 format, 0xEF8F)
        return Bytes{0xC1, 0xEF, 0x8F};
    case 0x82:
        return Bytes{0xC2};
    case 0x10:
        if (n < 2) return Negative(sid, 0x12);
        session_ = q[1];
        return Bytes{0x50, q[1]};
    case 0x3E:
        if (n >= 2 && q[1] == 0x02) return {};
        return Bytes{0x7E};
    case 0x1A: {  // ReadEcuIdentification
        if (n != 2) return Negative(sid, 0x12);
        auto it = cfg_.dids.find(q[1] == 0x90 ? 0xF190 : uint16_t(0xF100 | q[1]));
        if (it == cfg_.dids.end()) return Negative(sid, 0x31);
        Bytes r{0x5A, q[1]};
        r.insert(r.end(), it->second.begin(), it->second.end());
        return r;
    }
    case 0x21: {  // ReadDataByLocalIdentifier
        if (n != 2) return Negative(sid, 0x12);
        Bytes r{0x61, q[1]};
        for (int i = 0; i < 8; ++i) r.push_back(uint8_t(q[1] + i));
        return r;
    }
    case 0x18: {  // ReadDiagnosticTroubleCodesByStatus
        Bytes r{0x58, uint8_t(cfg_.dtcs.size())};
        for (const Dtc& d : cfg_.dtcs) {
            r.push_back(uint8_t(d.code >> 8));
            r.push_back(uint8_t(d.code));
            r.push_back(d.status);
        }
        return r;
    }
    case 0x14:
        cfg_.dtcs.clear();
        return Bytes{0x54, 0xFF, 0x00};
    case 0x27: {
        if (n < 2) return Negative(sid, 0x12);
        if (q[1] % 2 == 1) {
            uint32_t seed = seedCounter_++;
            lastSeed_ = seed;
            seedLevel_ = q[1];
            return Bytes{0x67, q[1], uint8_t(seed >> 8), uint8_t(seed)};
        }
        if (n != 4 || seedLevel_ + 1 != q[1]) return Negative(sid, 0x22);
        uint16_t key = uint16_t(q[2] << 8 | q[3]);
        if (key != uint16_t((lastSeed_ ^ cfg_.securityMask) & 0xFFFF)) return Negative(sid, 0x35);
        unlockedLevel_ = uint8_t(q[1] - 1);
        return Bytes{0x67, q[1], 0x34};
    }
    default:
        return Negative(sid, 0x11);
    }
}

}  // namespace vcisim
