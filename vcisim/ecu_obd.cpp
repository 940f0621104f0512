// The OBD-II responder of a simulated ECU and the drive cycle behind its live values.
#include "vcisim/ecu_obd.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "vcisim/ecu_uds.h"

namespace vcisim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint64_t kFreezeFrameAtUs = 37000000;  // the moment the first stored DTC was set
constexpr uint8_t kConfirmed = 0x08;             // DTC status bits of ISO 14229-1
constexpr uint8_t kPending = 0x04;

Bytes Negative(uint8_t sid, uint8_t nrc) { return Bytes{0x7F, sid, nrc}; }

Bytes Ascii(const std::string& s, size_t size) {
    Bytes b(s.begin(), s.end());
    b.resize(size, 0x00);
    return b;
}

// Linear scaling of a PID: raw = (value + offset) * scale, in `bytes` big-endian bytes.
struct PidScaling {
    uint8_t pid;
    double scale;
    double offset;
    unsigned bytes;
};
const PidScaling kScalings[] = {
    {0x04, 255.0 / 100, 0, 1},  // calculated load, %
    {0x05, 1, 40, 1},           // coolant, °C
    {0x0C, 4, 0, 2},            // engine speed, rpm
    {0x0D, 1, 0, 1},            // vehicle speed, km/h
    {0x0F, 1, 40, 1},           // intake air, °C
    {0x11, 255.0 / 100, 0, 1},  // throttle position, %
    {0x1C, 1, 0, 1},            // OBD standard
    {0x2F, 255.0 / 100, 0, 1},  // fuel level, %
    {0x42, 1000, 0, 2},         // control module voltage, V
    {0x46, 1, 40, 1},           // ambient air, °C
    {0x51, 1, 0, 1},            // fuel type
};

// The drive cycle: two minutes from standstill up to 110 km/h and back, through six gears,
// with the engine warming up, the fuel level falling and a little idle wobble.
bool DriveValue(uint8_t pid, double t, double* v) {
    const double phase = 2 * kPi * t / 120.0;
    const double speed = 55.0 - 55.0 * std::cos(phase);
    const double accel = 55.0 * (2 * kPi / 120.0) * std::sin(phase);  // km/h per second
    static const double kShiftAt[] = {15, 30, 50, 70, 90};
    static const double kRpmPerKmh[] = {110, 65, 45, 35, 28, 24};
    size_t gear = 0;
    while (gear < 5 && speed >= kShiftAt[gear]) ++gear;
    const double rpm = std::max(780.0, speed * kRpmPerKmh[gear]) + 15.0 * std::sin(2 * kPi * t / 1.3);
    const double load = std::min(100.0, std::max(0.0, 20.0 + 0.01 * (rpm - 780.0) + 12.0 * accel));
    const double ambient = 22.0;
    switch (pid) {
    case 0x04: *v = load; return true;
    case 0x05: *v = 90.0 - 70.0 * std::exp(-t / 180.0); return true;
    case 0x0C: *v = rpm; return true;
    case 0x0D: *v = speed; return true;
    case 0x0F: *v = ambient + 4.0 + 10.0 * (1.0 - std::exp(-t / 300.0)); return true;
    case 0x11: *v = 8.0 + 0.6 * load; return true;
    case 0x1C: *v = 6; return true;  // EOBD
    case 0x2F: *v = std::max(5.0, 68.0 - t / 360.0); return true;
    case 0x42: *v = 14.1 + 0.05 * std::sin(2 * kPi * t / 7.0); return true;
    case 0x46: *v = ambient; return true;
    case 0x51: *v = 1; return true;  // gasoline
    default: return false;
    }
}

// The bitmap PID `base` (0x00, 0x20, ...) of a supported set; empty when the bitmap itself is
// not supported (no supported number above it).
Bytes SupportBitmap(const std::set<uint8_t>& supported, uint8_t base) {
    const bool any = base == 0 || std::any_of(supported.begin(), supported.end(), [&](uint8_t p) { return p > base; });
    if (!any) return {};
    Bytes b(4, 0);
    for (unsigned n = base + 1u; n <= base + 0x20u && n <= 0xFF; ++n) {
        const bool on = n == base + 0x20u
                            ? std::any_of(supported.begin(), supported.end(), [&](uint8_t p) { return p > n; })
                            : supported.count(uint8_t(n)) != 0;
        if (on) b[(n - base - 1) / 8] |= uint8_t(0x80 >> ((n - base - 1) % 8));
    }
    return b;
}

bool IsBitmapPid(uint8_t pid) { return pid % 0x20 == 0; }

// Service 01 PIDs the ECU can answer: the configured ones that have a value.
std::set<uint8_t> AnsweredPids(const ObdConfig& c) {
    std::set<uint8_t> out;
    for (uint8_t p : c.pids)
        if (p == 0x01 || c.fixedPids.count(p) || !DriveCyclePid(p, 0).empty()) out.insert(p);
    return out;
}

// The freeze frame holds the measured values, not the status or the constant ones.
std::set<uint8_t> FreezeFramePids(const ObdConfig& c) {
    std::set<uint8_t> out = AnsweredPids(c);
    out.erase(0x01);
    out.erase(0x1C);
    out.erase(0x51);
    out.insert(0x02);
    return out;
}

std::vector<uint16_t> DtcsWith(const std::vector<Dtc>& dtcs, uint8_t status) {
    std::vector<uint16_t> out;
    for (const Dtc& d : dtcs)
        if (d.status & status) out.push_back(uint16_t(d.code >> 8));
    return out;
}

// 43/47/4A: CAN one message with the count; K-Line three DTCs a message, padded with 0000.
std::vector<Bytes> DtcMessages(uint8_t rsid, const std::vector<uint16_t>& codes, bool kline) {
    if (!kline) {
        Bytes r{rsid, uint8_t(std::min<size_t>(codes.size(), 0xFF))};
        for (size_t i = 0; i < codes.size() && i < 0xFF; ++i) {
            r.push_back(uint8_t(codes[i] >> 8));
            r.push_back(uint8_t(codes[i]));
        }
        return {r};
    }
    std::vector<Bytes> out;
    for (size_t i = 0; i == 0 || i < codes.size(); i += 3) {
        Bytes r{rsid};
        for (size_t k = i; k < i + 3; ++k) {
            const uint16_t code = k < codes.size() ? codes[k] : 0;
            r.push_back(uint8_t(code >> 8));
            r.push_back(uint8_t(code));
        }
        out.push_back(r);
    }
    return out;
}

// ECUNAME: the acronym (4 bytes), '-', the name (15 bytes), each padded with zeros.
Bytes EcuNameBytes(const std::string& name) {
    const size_t dash = name.find('-');
    Bytes b = Ascii(name.substr(0, std::min<size_t>(dash, 4)), 4);
    b.push_back('-');
    Bytes text = Ascii(dash == std::string::npos ? std::string() : name.substr(dash + 1, 15), 15);
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

}  // namespace

ObdConfig DefaultEngineObd() {
    ObdConfig c;
    c.services = {0x01, 0x02, 0x03, 0x04, 0x07, 0x09, 0x0A};
    c.pids = {0x01, 0x04, 0x05, 0x0C, 0x0D, 0x0F, 0x11, 0x1C, 0x2F, 0x42, 0x46, 0x51};
    c.infoTypes = {0x02, 0x04, 0x0A};
    c.calibrationId = "VSIM-ECM-CAL0001";
    c.ecuName = "ECM-EngineControl";
    c.continuousMonitors = 0x07;  // misfire, fuel system, components
    c.otherMonitors = 0x65;       // catalyst, evaporative system, oxygen sensor and its heater
    c.permanentDtcs = {0x012300};
    return c;
}

ObdConfig DefaultTransmissionObd() {
    ObdConfig c;
    c.services = {0x01, 0x03, 0x04, 0x09};
    c.pids = {0x01, 0x0D};
    c.infoTypes = {0x02, 0x0A};
    c.ecuName = "TCM-TransmissionCtl";
    c.continuousMonitors = 0x04;  // components
    return c;
}

bool EncodePidValue(uint8_t pid, double value, Bytes* out) {
    for (const PidScaling& s : kScalings) {
        if (s.pid != pid) continue;
        const double raw = std::round((value + s.offset) * s.scale);
        const double max = s.bytes == 1 ? 255.0 : 65535.0;
        if (!(raw >= 0 && raw <= max)) return false;
        const unsigned r = unsigned(raw);
        out->clear();
        if (s.bytes == 2) out->push_back(uint8_t(r >> 8));
        out->push_back(uint8_t(r));
        return true;
    }
    return false;
}

Bytes DriveCyclePid(uint8_t pid, uint64_t us) {
    double v = 0;
    Bytes b;
    if (DriveValue(pid, double(us) / 1e6, &v)) EncodePidValue(pid, v, &b);
    return b;
}

Bytes DiagnosticEcu::LivePid(uint8_t pid, uint64_t us) const {
    const ObdConfig& c = cfg_.obd;
    const std::set<uint8_t> answered = AnsweredPids(c);
    if (IsBitmapPid(pid)) return SupportBitmap(answered, pid);
    if (!answered.count(pid)) return {};
    auto fixed = c.fixedPids.find(pid);
    if (fixed != c.fixedPids.end()) return fixed->second;
    if (pid == 0x01) {  // monitor status: MIL and count of the confirmed DTCs, readiness
        const size_t count = std::min<size_t>(DtcsWith(cfg_.dtcs, kConfirmed).size(), 0x7F);
        return Bytes{uint8_t((count ? 0x80 : 0x00) | count), uint8_t(c.continuousMonitors & 0x07), c.otherMonitors,
                     uint8_t(monitorsReset_ ? c.otherMonitors : 0x00)};
    }
    return DriveCyclePid(pid, us);
}

Bytes DiagnosticEcu::FreezeFramePid(uint8_t pid, uint8_t frame) const {
    if (frame != 0) return {};
    const std::set<uint8_t> pids = FreezeFramePids(cfg_.obd);
    if (IsBitmapPid(pid)) return SupportBitmap(pids, pid);
    if (!pids.count(pid)) return {};
    const std::vector<uint16_t> stored = DtcsWith(cfg_.dtcs, kConfirmed);
    if (pid == 0x02) {
        const uint16_t code = stored.empty() ? 0 : stored.front();
        return Bytes{uint8_t(code >> 8), uint8_t(code)};
    }
    if (stored.empty()) return {};  // no freeze frame stored
    return LivePid(pid, kFreezeFrameAtUs);
}

std::vector<Bytes> DiagnosticEcu::RespondObd(const Bytes& q, bool functional, bool kline) {
    const uint8_t sid = q[0];
    const size_t n = q.size();
    const ObdConfig& c = cfg_.obd;
    // What real ECUs do: silence towards a functional request, a negative answer to a physical one.
    auto refuse = [&](uint8_t nrc) { return functional ? std::vector<Bytes>{} : std::vector<Bytes>{Negative(sid, nrc)}; };
    if (!c.services.count(sid)) return refuse(0x11);
    switch (sid) {
    case 0x01:
    case 0x02: {  // current data: PIDs; freeze frame: (PID, frame) pairs. K-Line: one at a time.
        const size_t step = sid == 0x01 ? 1 : 2;
        const size_t most = kline ? 1 : (sid == 0x01 ? 6 : 3);
        if (n < 1 + step || (n - 1) % step != 0 || (n - 1) / step > most) return refuse(0x13);
        const uint64_t now = clock_();
        Bytes r{uint8_t(sid + 0x40)};
        for (size_t i = 1; i < n; i += step) {
            const Bytes data = sid == 0x01 ? LivePid(q[i], now) : FreezeFramePid(q[i], q[i + 1]);
            if (data.empty()) continue;
            r.insert(r.end(), q.begin() + std::ptrdiff_t(i), q.begin() + std::ptrdiff_t(i + step));
            r.insert(r.end(), data.begin(), data.end());
        }
        if (r.size() == 1) return refuse(0x12);
        return {r};
    }
    case 0x03:
    case 0x07:
    case 0x0A: {
        if (n != 1) return refuse(0x13);
        std::vector<uint16_t> codes;
        if (sid == 0x0A) {
            for (uint32_t code : c.permanentDtcs) codes.push_back(uint16_t(code >> 8));
        } else {
            codes = DtcsWith(cfg_.dtcs, sid == 0x03 ? kConfirmed : kPending);
        }
        return DtcMessages(uint8_t(sid + 0x40), codes, kline);
    }
    case 0x04:  // clears stored and pending DTCs and the freeze frame; permanent ones stay
        if (n != 1) return refuse(0x13);
        cfg_.dtcs.clear();
        monitorsReset_ = true;
        return {Bytes{0x44}};
    case 0x09: {
        if (n != 2) return refuse(0x13);
        const uint8_t type = q[1];
        std::set<uint8_t> types = c.infoTypes;
        if (kline)  // message counts of the multi-message info types (01 for 02, 03 for 04, ...)
            for (uint8_t t : c.infoTypes)
                if (t % 2 == 0 && t <= 0x0A) types.insert(uint8_t(t - 1));
        if (IsBitmapPid(type)) {
            Bytes bitmap = SupportBitmap(types, type);
            if (bitmap.empty()) return refuse(0x12);
            Bytes r{0x49, type};
            if (kline) r.push_back(0x01);
            r.insert(r.end(), bitmap.begin(), bitmap.end());
            return {r};
        }
        if (!types.count(type)) return refuse(0x12);
        const uint8_t item = kline && type % 2 == 1 ? uint8_t(type + 1) : type;
        Bytes data;
        auto vin = cfg_.dids.find(0xF190);
        if (item == 0x02 && vin != cfg_.dids.end()) data = Ascii(std::string(vin->second.begin(), vin->second.end()), 17);
        else if (item == 0x04 && !c.calibrationId.empty()) data = Ascii(c.calibrationId, 16);
        else if (item == 0x0A && !c.ecuName.empty()) data = EcuNameBytes(c.ecuName);
        if (data.empty()) return refuse(0x12);
        if (!kline) {
            Bytes r{0x49, type, 0x01};
            r.insert(r.end(), data.begin(), data.end());
            return {r};
        }
        // K-Line: four bytes a message, numbered from 1, zeros in front of the first.
        data.insert(data.begin(), (4 - data.size() % 4) % 4, 0x00);
        if (item != type) return {Bytes{0x49, type, uint8_t(data.size() / 4)}};
        std::vector<Bytes> out;
        for (size_t i = 0; i < data.size(); i += 4) {
            Bytes r{0x49, type, uint8_t(i / 4 + 1)};
            r.insert(r.end(), data.begin() + std::ptrdiff_t(i), data.begin() + std::ptrdiff_t(i + 4));
            out.push_back(r);
        }
        return out;
    }
    default:
        return refuse(0x11);
    }
}

std::vector<EcuAnswer> DiagnosticEcu::ScheduleObd(uint8_t sid, std::vector<Bytes> messages) {
    std::vector<EcuAnswer> out;
    for (Bytes& m : messages) {
        if (out.empty()) out = Schedule(sid, std::move(m));
        else out.push_back({out.back().delayUs, std::move(m)});
    }
    return out;
}

}  // namespace vcisim
