// VciSim: a D-PDU API (ISO 22900-2) library that simulates VCI modules, the vehicle bus and the
// ECUs behind it. Behaviour, scenario settings and the trace format: vcisim/README.md.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "driver/dpdu/pdu_api.h"
#include "platform/platform.h"
#include "vcisim/ecu_isotp.h"
#include "vcisim/ecu_uds.h"
#include "vcisim/objects.h"
#include "vcisim/scenario.h"
#include "vcisim/trace.h"

#define VCISIM_API extern "C" PLATFORM_EXPORT T_PDU_ERROR PDU_CALL

namespace vcisim {
namespace {

// ---- functions -------------------------------------------------------------------------------
enum Fn {
    fConstruct, fDestruct, fIoCtl, fGetVersion, fGetStatus, fGetLastError, fGetResourceStatus,
    fCreateComLogicalLink, fDestroyComLogicalLink, fConnect, fDisconnect, fLockResource,
    fUnlockResource, fGetComParam, fSetComParam, fStartComPrimitive, fCancelComPrimitive,
    fGetEventItem, fDestroyItem, fRegisterEventCallback, fGetObjectId, fGetModuleIds,
    fGetResourceIds, fGetConflictingResources, fGetUniqueRespIdTable, fSetUniqueRespIdTable,
    fModuleConnect, fModuleDisconnect, fGetTimestamp, kFnCount
};
const char* const kFnNames[kFnCount] = {
    "PDUConstruct", "PDUDestruct", "PDUIoCtl", "PDUGetVersion", "PDUGetStatus", "PDUGetLastError",
    "PDUGetResourceStatus", "PDUCreateComLogicalLink", "PDUDestroyComLogicalLink", "PDUConnect",
    "PDUDisconnect", "PDULockResource", "PDUUnlockResource", "PDUGetComParam", "PDUSetComParam",
    "PDUStartComPrimitive", "PDUCancelComPrimitive", "PDUGetEventItem", "PDUDestroyItem",
    "PDURegisterEventCallback", "PDUGetObjectId", "PDUGetModuleIds", "PDUGetResourceIds",
    "PDUGetConflictingResources", "PDUGetUniqueRespIdTable", "PDUSetUniqueRespIdTable",
    "PDUModuleConnect", "PDUModuleDisconnect", "PDUGetTimestamp"};

// ---- items -----------------------------------------------------------------------------------
// Every item handed out lives in one Holder; the item header is the first thing the caller sees.
struct Holder {
    uint64_t serial = 0;
    uint32_t type = 0;
    PDU_ITEM* head = nullptr;
    PDU_MODULE_ITEM moduleItem{};
    PDU_RSC_ID_ITEM rscItem{};
    PDU_PARAM_ITEM paramItem{};
    PDU_EVENT_ITEM eventItem{};
    PDU_DATA_ITEM dataItem{};
    PDU_RSC_CONFLICT_ITEM conflictItem{};
    PDU_UNIQUE_RESP_ID_TABLE_ITEM tableItem{};
    std::vector<PDU_MODULE_DATA> modules;
    std::vector<std::string> strings;
    std::vector<PDU_RSC_ID_ITEM_DATA> rscData;
    std::vector<std::vector<UNUM32>> idArrays;
    UNUM32 value = 0;
    T_PDU_STATUS status = 0;
    PDU_RESULT_DATA result{};
    PDU_ERROR_DATA error{};
    PDU_INFO_DATA info{};
    Bytes bytes;
    UNUM8 rxFlag[4] = {0, 0, 0, 0};
};

const char* ItemTypeName(uint32_t t) {
    switch (t) {
    case PDU_IT_IO_UNUM32: return "IO_UNUM32";
    case PDU_IT_PARAM: return "PARAM";
    case PDU_IT_RESULT: return "RESULT";
    case PDU_IT_STATUS: return "STATUS";
    case PDU_IT_ERROR: return "ERROR";
    case PDU_IT_INFO: return "INFO";
    case PDU_IT_RSC_ID: return "RSC_ID";
    case PDU_IT_RSC_CONFLICT: return "RSC_CONFLICT";
    case PDU_IT_MODULE_ID: return "MODULE_ID";
    case PDU_IT_UNIQUE_RESP_ID_TABLE: return "UNIQUE_RESP_ID_TABLE";
    default: return "?";
    }
}

// ---- links, modules, events ------------------------------------------------------------------
struct Event {
    uint64_t dueUs = 0;
    uint32_t itemType = PDU_IT_RESULT;
    uint32_t hCoP = 0;
    void* copTag = nullptr;
    Bytes data;
    uint32_t code = 0, extra = 0;  // ERROR: code / extra; STATUS: code = status
    uint64_t txDoneUs = 0, startUs = 0;
};

struct CopState {
    uint64_t lastDueUs = 0;
    bool cancelled = false;
};

struct Link {
    uint32_t hCLL = 0;
    uint32_t hMod = 0;
    ResourceDef rsc;
    bool connected = false;
    bool commStarted = false;
    bool rawFlag = false;  // CllCreateFlag byte 0 bit 7
    uint32_t params[kCpSlotCount];
    std::deque<Event> events;
    std::map<uint32_t, CopState> cops;
    uint32_t lastCoP = 0;
    std::map<size_t, std::unique_ptr<EcuIsoTpSession>> isoTp;  // per ECU index (raw CAN)
    uint32_t lastErr = 0, lastErrExtra = 0, lastErrCoP = PDU_HANDLE_UNDEF;
    uint64_t lastErrUs = 0;
};

struct Module {
    ModuleDef def;
    uint32_t hMod = 0;
    bool connected = false;
    unsigned connectCalls = 0;
    uint32_t status = 0;
    SimBus bus;
    uint32_t ethSwitch = 0;
    uint32_t progVoltageMv = 0;
};

struct Sim {
    std::recursive_mutex mu;
    bool loaded = false;
    Scenario sc;
    std::string scenarioPath;
    bool constructed = false;
    std::atomic<uint64_t> calls[kFnCount];
    std::atomic<uint64_t> totalCalls{0};
    Trace trace;
    std::vector<Module> modules;
    std::vector<std::unique_ptr<DiagnosticEcu>> ecus;
    std::map<uint32_t, Link> links;
    uint32_t nextLink = 1;
    uint32_t nextCoP = 1;
    bool vehicleIdDone = false;
    PDUEventCallbackFn callback = nullptr;
    // items
    std::unordered_map<const void*, std::unique_ptr<Holder>> live;
    std::unordered_map<const void*, std::unique_ptr<Holder>> orphans;  // leaked at PDUDestruct
    std::unordered_map<const void*, uint64_t> freed;                   // pointer -> serial
    uint64_t nextSerial = 1;
    std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now();

    Sim() {
        for (auto& c : calls) c = 0;
    }
};

Sim& S() {
    static Sim* sim = new Sim();  // never destroyed: calls may come during process exit
    return *sim;
}

uint64_t NowUs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - S().epoch).count());
}

std::string Dir(const std::string& path) {
    size_t p = path.find_last_of("\\/");
    return p == std::string::npos ? std::string() : path.substr(0, p);
}

void LoadScenario(Sim& s) {
    std::string path;
    if (!platform::GetEnv("VCISIM_CONFIG", &path) || path.empty()) {
        std::string dir = Dir(platform::ThisModulePath());
        path = dir.empty() ? std::string("VciSim.ini") : dir + platform::kPathSeparator + "VciSim.ini";
    }
    std::string text;
    std::vector<std::string> errors;
    if (platform::ReadWholeFile(path, &text)) {
        s.sc = ParseScenario(text, Dir(path), &errors);
        s.sc.sourcePath = path;
    } else {
        s.sc = DefaultScenario();
    }
    std::string tracePath;
    if (platform::GetEnv("VCISIM_TRACE", &tracePath) && !tracePath.empty()) s.sc.tracePath = tracePath;
    s.trace.Open(s.sc.tracePath);
    s.loaded = true;
    s.trace.Line("# VciSim scenario=" + (s.sc.sourcePath.empty() ? std::string("<built-in>") : s.sc.sourcePath) +
                 " modules=" + std::to_string(s.sc.modules.size()) + " ecus=" + std::to_string(s.sc.ecus.size()) +
                 " timing=" + (s.sc.timed ? "bus" : "zero"));
    for (const std::string& e : errors) s.trace.Line("# scenario error: " + e);
}

// ---- item helpers (caller holds the lock) ------------------------------------------------------
// A new holder; Register (called right after filling it) hands it to the live set.
Holder* NewHolder(Sim& s, uint32_t type, PDU_ITEM* /*unused*/) {
    Holder* h = new Holder();
    h->serial = s.nextSerial++;
    h->type = type;
    return h;
}

void Register(Sim& s, Holder* h, PDU_ITEM* head) {
    h->head = head;
    head->ItemType = h->type;
    s.freed.erase(head);
    s.live[head].reset(h);
}

std::string ItemRef(const Holder* h) { return "#" + std::to_string(h->serial) + "(" + ItemTypeName(h->type) + ")"; }

// ---- faults ------------------------------------------------------------------------------------
void Crash() {
    volatile int* volatile p = nullptr;
    *p = 1;
}

// Common entry: counts the call, applies crash/error/lost-VCI faults and the construct check.
// Returns true when the call is answered here with *code.
bool Prologue(Fn f, T_PDU_ERROR* code, std::string* why) {
    Sim& s = S();
    bool crash = false, answered = false;
    uint64_t n = 0;
    {
        std::lock_guard<std::recursive_mutex> lk(s.mu);
        if (!s.loaded) LoadScenario(s);
        n = ++s.calls[f];
        uint64_t total = ++s.totalCalls;
        for (const FaultAt& c : s.sc.crashes)
            if (c.function == kFnNames[f] && c.call == n) crash = true;
        for (const FaultAt& e : s.sc.errors)
            if (!crash && !answered && e.function == kFnNames[f] && e.call == n) {
                *code = e.code;
                *why = " fault=error call=" + std::to_string(n);
                answered = true;
            }
        if (!crash && !answered && s.sc.loseVciAfterCalls != 0 && total > s.sc.loseVciAfterCalls &&
            f != fDestroyItem && f != fDestruct) {
            *code = s.sc.loseVciCode;
            *why = " fault=vci-lost";
            answered = true;
        }
        if (!crash && !answered && f != fConstruct && f != fDestroyItem && !s.constructed) {
            *code = PDU_ERR_PDUAPI_NOT_CONSTRUCTED;
            answered = true;
        }
    }
    if (crash) {  // outside the lock, so that a client that survives the crash can go on
        s.trace.Line(std::string(kFnNames[f]) + " -> CRASH call=" + std::to_string(n));
        Crash();
    }
    return answered;
}

void TraceCall(Fn f, const std::string& args, T_PDU_ERROR code, const std::string& outs) {
    Sim& s = S();
    if (!s.trace.Enabled()) return;
    std::string line = kFnNames[f];
    if (!args.empty()) line += " " + args;
    line += " -> " + Hex(code);
    if (!outs.empty()) line += " " + outs;
    s.trace.Line(line);
}

// Runs the prologue and traces its answer; true when the call is answered there.
bool Intercepted(Fn f, const std::string& args, T_PDU_ERROR* code) {
    std::string why;
    if (!Prologue(f, code, &why)) return false;
    TraceCall(f, args, *code, why.empty() ? why : why.substr(1));
    return true;
}

std::string H(uint32_t h) { return h == PDU_HANDLE_UNDEF ? std::string("UNDEF") : std::to_string(h); }
std::string Ptr(const void* p) { return p ? "set" : "null"; }

Module* FindModule(Sim& s, uint32_t hMod) {
    for (Module& m : s.modules)
        if (m.hMod == hMod) return &m;
    return nullptr;
}

bool ModuleVisible(const Sim& s, const Module& m) { return !m.def.hiddenUntilVehicleId || s.vehicleIdDone; }

Link* FindLink(Sim& s, uint32_t hMod, uint32_t hCLL) {
    auto it = s.links.find(hCLL);
    if (it == s.links.end() || it->second.hMod != hMod) return nullptr;
    return &it->second;
}

const ComParamDef* ComParamById(uint32_t id) {
    for (const ComParamDef& d : kComParams)
        if (d.id == id) return &d;
    return nullptr;
}

bool ComParamKnown(const Sim& s, const ComParamDef& d) {
    return s.sc.comParams.count(d.name) != 0 && s.sc.unknownNames.count(d.name) == 0;
}

const NamedId* IoctlById(const Sim& s, uint32_t id) {
    for (const NamedId& d : kIoctls)
        if (d.id == id) return s.sc.unknownNames.count(d.name) ? nullptr : &d;
    return nullptr;
}

void PushEvent(Link& l, Event e) {
    auto pos = std::upper_bound(l.events.begin(), l.events.end(), e.dueUs,
                                [](uint64_t due, const Event& x) { return due < x.dueUs; });
    CopState& c = l.cops[e.hCoP];
    c.lastDueUs = std::max(c.lastDueUs, e.dueUs);
    l.events.insert(pos, std::move(e));
}

// ---- bus simulation ---------------------------------------------------------------------------
bool MatchResourceTemplate(const ResourceDef& r, const PDU_RSC_DATA& t) {
    uint32_t bus = t.BusTypeId, proto = t.ProtocolId;
    bool can = bus == 1 || bus == 5, kline = bus == 2 || bus == 4, eth = bus == 3;
    switch (r.kind) {
    case LinkKind::Iso15765:
        return can && (proto == 0 || (r.kwp ? proto == 1 : proto == 2));
    case LinkKind::RawCan:
        return can && (proto == 0 || proto == 17);
    case LinkKind::KLine:
        return kline && (proto == 0 || proto == 104 || proto == 105);
    case LinkKind::DoIp:
        return eth && (proto == 0 || proto == 200);
    }
    return false;
}

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
    uint8_t first = (*d)[1];
    bool plausible = first >= 0x10 || (first >= 0x01 && first <= 0x0A && len >= 2);
    if (!plausible) return;
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

void SimulateIso15765(Sim& s, Module& m, Link& l, const Bytes& in, uint32_t hCoP, void* tag, uint32_t timeMs) {
    Bytes d = in;
    uint64_t now = NowUs();
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
    bool fd = l.rsc.fd && l.params[kCpFdTxMaxLen] > 8;
    size_t maxFrame = fd ? std::min<size_t>(64, FdFrameLength(l.params[kCpFdTxMaxLen])) : 8;
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
        std::vector<EcuAnswer> answers = l.rsc.kwp ? ecu.HandleKwp(d) : ecu.HandleUds(d, functional);
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
    bool fd = n > 8;
    uint64_t now = NowUs();
    uint64_t txEnd = m.bus.Send(now, n, fd, id > 0x7FF);
    for (size_t i = 0; i < s.ecus.size(); ++i) {
        DiagnosticEcu& ecu = *s.ecus[i];
        const EcuConfig& c = ecu.Config();
        if (c.bus != EcuBus::Can) continue;
        bool physical = c.requestId == id;
        bool functional = !physical && c.functionalId != 0 && c.functionalId == id;
        if (!physical && !functional) continue;
        auto& sess = l.isoTp[i];
        if (!sess) sess.reset(new EcuIsoTpSession(c, fd ? 64 : 8, fd, c.responseId > 0x7FF));
        std::vector<TimedFrame> frames;
        Bytes request;
        bool complete = false;
        sess->OnTesterFrame(frame, txEnd, m.bus, &frames, &request, &complete);
        if (complete) {
            std::vector<EcuAnswer> answers = l.rsc.kwp ? ecu.HandleKwp(request) : ecu.HandleUds(request, functional);
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
    bool header = false, checksum = false;
    uint8_t target = 0, source = 0xF1;
    if (d.size() >= 3 && (d[0] & 0xC0) == 0x80) {
        size_t len = d[0] & 0x3F, hdr = 3;
        if (len == 0 && d.size() >= 4) {
            len = d[3];
            hdr = 4;
        }
        if (hdr + len == d.size() || hdr + len + 1 == d.size()) {
            header = true;
            checksum = hdr + len + 1 == d.size();
            target = d[1];
            source = d[2];
            payload.assign(d.begin() + hdr, d.begin() + hdr + len);
        }
    }
    DiagnosticEcu* ecu = nullptr;
    for (auto& e : s.ecus)
        if (e->Config().bus == EcuBus::KLine && (!header || e->Config().klineAddress == target)) {
            ecu = e.get();
            break;
        }
    auto byteUs = [&](size_t bytes) -> uint64_t { return s.sc.timed ? uint64_t(bytes) * 10 * 1000000 / 10400 : 0; };
    uint64_t reqEnd = now + byteUs(d.size());
    bool answered = false;
    if (ecu) {
        for (EcuAnswer& a : ecu->HandleKwp(payload)) {
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
            uint64_t ready = reqEnd + a.delayUs + (s.sc.timed ? 25000 : 0);
            ResultEvent(l, hCoP, tag, ready + byteUs(out.size()), std::move(out), reqEnd, ready);
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

void DropLinksOf(Sim& s, uint32_t hMod) {
    for (auto it = s.links.begin(); it != s.links.end();) {
        if (it->second.hMod == hMod) it = s.links.erase(it);
        else ++it;
    }
}

const char* KindName(const ResourceDef& r) {
    switch (r.kind) {
    case LinkKind::Iso15765: return r.kwp ? "kwponcan" : (r.fd ? "iso15765fd" : "iso15765");
    case LinkKind::RawCan: return r.fd ? "canfd" : "rawcan";
    case LinkKind::KLine: return "kline";
    case LinkKind::DoIp: return "doip";
    }
    return "?";
}

std::string RscText(const PDU_RSC_DATA* r) {
    if (!r) return "null";
    std::string t = "{bus=" + std::to_string(r->BusTypeId) + " protocol=" + std::to_string(r->ProtocolId) + " pins=[";
    if (r->pDLCPinData) {
        for (UNUM32 i = 0; i < r->NumPinData && i < 16; ++i)
            t += (i ? " " : "") + std::to_string(r->pDLCPinData[i].DLCPinNumber) + ":" +
                 std::to_string(r->pDLCPinData[i].DLCPinTypeId);
    }
    return t + "]}";
}

std::string FlagText(const PDU_FLAG_DATA* f) {
    if (!f) return "null";
    if (!f->pFlagData) return f->NumFlagBytes ? "invalid" : "[]";
    return HexBytes(f->pFlagData, std::min<UNUM32>(f->NumFlagBytes, 16));
}

}  // namespace
}  // namespace vcisim

using namespace vcisim;

// ================================================================================================
// Exported D-PDU API
// ================================================================================================

VCISIM_API PDUConstruct(CHAR8* OptionStr, void* pAPITag) {
    (void)pAPITag;
    Sim& s = S();
    std::string args = "option=" + Quoted(OptionStr);
    T_PDU_ERROR code = 0;
    if (Intercepted(fConstruct, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (s.constructed) {
        TraceCall(fConstruct, args, PDU_ERR_SHARING_VIOLATION, "");
        return PDU_ERR_SHARING_VIOLATION;
    }
    LoadScenario(s);
    std::string opt = OptionStr ? OptionStr : "<null>";
    if (!s.sc.acceptAllOptions && !s.sc.acceptedOptions.count(opt)) {
        TraceCall(fConstruct, args, s.sc.constructError, "");
        return s.sc.constructError;
    }
    s.modules.clear();
    uint32_t h = 1;
    for (const ModuleDef& d : s.sc.modules) {
        Module m;
        m.def = d;
        m.hMod = h++;
        m.status = d.status;
        m.bus.timing.timed = s.sc.timed;
        m.bus.timing.nominalBaud = s.sc.canBaud;
        m.bus.timing.dataBaud = s.sc.canFdDataBaud;
        s.modules.push_back(m);
    }
    s.ecus.clear();
    for (const EcuConfig& c : s.sc.ecus) s.ecus.emplace_back(new DiagnosticEcu(c));
    s.links.clear();
    s.vehicleIdDone = false;
    s.callback = nullptr;
    s.constructed = true;
    TraceCall(fConstruct, args, 0, "");
    return PDU_STATUS_NOERROR;
}

#if !defined(VCISIM_NO_DESTRUCT)
VCISIM_API PDUDestruct(void) {
    Sim& s = S();
    T_PDU_ERROR code = 0;
    if (Intercepted(fDestruct, "", &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    s.links.clear();
    s.modules.clear();
    s.ecus.clear();
    s.constructed = false;
    std::vector<Holder*> leaked;
    for (auto& kv : s.live) leaked.push_back(kv.second.get());
    std::sort(leaked.begin(), leaked.end(), [](Holder* a, Holder* b) { return a->serial < b->serial; });
    TraceCall(fDestruct, "", 0, "liveItems=" + std::to_string(leaked.size()));
    for (Holder* h : leaked) s.trace.Line("LEAK item=" + ItemRef(h));
    for (auto& kv : s.live) s.orphans[kv.first] = std::move(kv.second);
    s.live.clear();
    return PDU_STATUS_NOERROR;
}
#endif

VCISIM_API PDUGetModuleIds(PDU_MODULE_ITEM** pModuleIdList) {
    Sim& s = S();
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetModuleIds, "", &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!pModuleIdList) {
        TraceCall(fGetModuleIds, "out=null", PDU_ERR_INVALID_PARAMETERS, "");
        return PDU_ERR_INVALID_PARAMETERS;
    }
    Holder* h = NewHolder(s, PDU_IT_MODULE_ID, nullptr);
    std::string list;
    for (const Module& m : s.modules) {
        if (!ModuleVisible(s, m)) continue;
        h->strings.push_back(m.def.name);
        h->strings.push_back(m.def.info);
    }
    size_t si = 0;
    for (const Module& m : s.modules) {
        if (!ModuleVisible(s, m)) continue;
        PDU_MODULE_DATA md{};
        md.ModuleTypeId = m.def.typeId;
        md.hMod = m.hMod;
        md.pVendorModuleName = &h->strings[si++][0];
        md.pVendorAdditionalInfo = &h->strings[si++][0];
        md.ModuleStatus = m.status;
        h->modules.push_back(md);
        list += (list.empty() ? "" : ",") + std::to_string(m.hMod) + ":" + Quoted(m.def.name.c_str()) + ":" + Hex(m.status);
    }
    h->moduleItem.NumEntries = UNUM32(h->modules.size());
    h->moduleItem.pModuleData = h->modules.empty() ? nullptr : h->modules.data();
    Register(s, h, reinterpret_cast<PDU_ITEM*>(&h->moduleItem));
    *pModuleIdList = &h->moduleItem;
    TraceCall(fGetModuleIds, "", 0, "item=" + ItemRef(h) + " modules=" + std::to_string(h->modules.size()) + " [" + list + "]");
    return 0;
}

VCISIM_API PDUModuleConnect(UNUM32 hMod) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod);
    T_PDU_ERROR code = 0;
    if (Intercepted(fModuleConnect, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Module* m = FindModule(s, hMod);
    if (!m || !ModuleVisible(s, *m)) code = PDU_ERR_INVALID_HANDLE;
    else {
        unsigned n = m->connectCalls++;
        if (n < m->def.connectResults.size() && m->def.connectResults[n] != 0) code = m->def.connectResults[n];
        else if (m->status == PDU_MODST_NOT_AVAIL || m->status == PDU_MODST_NOT_READY) code = PDU_ERR_FCT_FAILED;
        else {
            m->connected = true;
            m->status = PDU_MODST_READY;
        }
    }
    TraceCall(fModuleConnect, args, code, "");
    return code;
}

VCISIM_API PDUModuleDisconnect(UNUM32 hMod) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod);
    T_PDU_ERROR code = 0;
    if (Intercepted(fModuleDisconnect, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Module* m = FindModule(s, hMod);
    if (!m) code = PDU_ERR_INVALID_HANDLE;
    else if (!m->connected) code = PDU_ERR_MODULE_NOT_CONNECTED;
    else {
        DropLinksOf(s, hMod);
        m->connected = false;
        m->status = m->def.status == PDU_MODST_READY ? PDU_MODST_READY : PDU_MODST_AVAIL;
    }
    TraceCall(fModuleDisconnect, args, code, "");
    return code;
}

VCISIM_API PDUGetObjectId(T_PDU_OBJT pduObjectType, CHAR8* pShortname, UNUM32* pPduObjectId) {
    Sim& s = S();
    static const char* kTypes[] = {"PROTOCOL", "BUSTYPE", "IO_CTRL", "COMPARAM", "PINTYPE", "RESOURCE"};
    std::string tname = pduObjectType >= PDU_OBJT_PROTOCOL && pduObjectType <= PDU_OBJT_RESOURCE
                            ? kTypes[pduObjectType - PDU_OBJT_PROTOCOL] : Hex(pduObjectType);
    std::string args = "type=" + tname + " name=" + Quoted(pShortname);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetObjectId, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!pShortname || !pPduObjectId || pduObjectType < PDU_OBJT_PROTOCOL || pduObjectType > PDU_OBJT_RESOURCE) {
        TraceCall(fGetObjectId, args, PDU_ERR_INVALID_PARAMETERS, "");
        return PDU_ERR_INVALID_PARAMETERS;
    }
    std::string name = pShortname;
    uint32_t id = PDU_ID_UNDEF;
    auto search = [&](const NamedId* table, size_t n) {
        for (size_t i = 0; i < n; ++i)
            if (name == table[i].name) id = table[i].id;
    };
    switch (pduObjectType) {
    case PDU_OBJT_COMPARAM:
        for (const ComParamDef& d : kComParams)
            if (name == d.name && ComParamKnown(s, d)) id = d.id;
        break;
    case PDU_OBJT_IO_CTRL: search(kIoctls, sizeof kIoctls / sizeof kIoctls[0]); break;
    case PDU_OBJT_BUSTYPE: search(kBusTypes, sizeof kBusTypes / sizeof kBusTypes[0]); break;
    case PDU_OBJT_PROTOCOL: search(kProtocols, sizeof kProtocols / sizeof kProtocols[0]); break;
    case PDU_OBJT_PINTYPE: search(kPinTypes, sizeof kPinTypes / sizeof kPinTypes[0]); break;
    default: break;
    }
    if (s.sc.unknownNames.count(name)) id = PDU_ID_UNDEF;
    *pPduObjectId = id;
    TraceCall(fGetObjectId, args, 0, "id=" + (id == PDU_ID_UNDEF ? std::string("UNDEF") : Hex(id)));
    return 0;
}

VCISIM_API PDUGetResourceIds(UNUM32 hMod, PDU_RSC_DATA* pResourceIdData, PDU_RSC_ID_ITEM** pResourceIdList) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod) + " rsc=" + RscText(pResourceIdData);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetResourceIds, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!pResourceIdData || !pResourceIdList || (pResourceIdData->NumPinData && !pResourceIdData->pDLCPinData)) {
        TraceCall(fGetResourceIds, args, PDU_ERR_INVALID_PARAMETERS, "");
        return PDU_ERR_INVALID_PARAMETERS;
    }
    std::vector<Module*> mods;
    if (hMod == PDU_HANDLE_UNDEF) {
        for (Module& m : s.modules)
            if (ModuleVisible(s, m)) mods.push_back(&m);
    } else {
        Module* m = FindModule(s, hMod);
        if (!m) {
            TraceCall(fGetResourceIds, args, PDU_ERR_INVALID_HANDLE, "");
            return PDU_ERR_INVALID_HANDLE;
        }
        mods.push_back(m);
    }
    Holder* h = NewHolder(s, PDU_IT_RSC_ID, nullptr);
    std::string ids;
    for (Module* m : mods) {
        std::vector<UNUM32> v;
        for (const ResourceDef& r : m->def.resources)
            if (MatchResourceTemplate(r, *pResourceIdData)) {
                v.push_back(r.id);
                ids += (ids.empty() ? "" : " ") + Hex(r.id);
            }
        h->idArrays.push_back(v);
    }
    for (size_t i = 0; i < mods.size(); ++i) {
        PDU_RSC_ID_ITEM_DATA d{};
        d.hMod = mods[i]->hMod;
        d.NumIds = UNUM32(h->idArrays[i].size());
        d.pResourceIdArray = h->idArrays[i].empty() ? nullptr : h->idArrays[i].data();
        h->rscData.push_back(d);
    }
    h->rscItem.NumModules = UNUM32(h->rscData.size());
    h->rscItem.pResourceIdDataArray = h->rscData.empty() ? nullptr : h->rscData.data();
    Register(s, h, reinterpret_cast<PDU_ITEM*>(&h->rscItem));
    *pResourceIdList = &h->rscItem;
    TraceCall(fGetResourceIds, args, 0, "item=" + ItemRef(h) + " ids=[" + ids + "]");
    return 0;
}

VCISIM_API PDUCreateComLogicalLink(UNUM32 hMod, PDU_RSC_DATA* pRscData, UNUM32 resourceId, void* pCllTag,
                                   UNUM32* phCLL, PDU_FLAG_DATA* pCllCreateFlag) {
    (void)pCllTag;
    Sim& s = S();
    std::string args = "hMod=" + H(hMod) + " resourceId=" + Hex(resourceId) + " rsc=" + RscText(pRscData) +
                       " flags=" + FlagText(pCllCreateFlag);
    T_PDU_ERROR code = 0;
    if (Intercepted(fCreateComLogicalLink, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Module* m = FindModule(s, hMod);
    const ResourceDef* chosen = nullptr;
    if (!phCLL || (pCllCreateFlag && pCllCreateFlag->NumFlagBytes && !pCllCreateFlag->pFlagData) ||
        (pRscData && pRscData->NumPinData && !pRscData->pDLCPinData))
        code = PDU_ERR_INVALID_PARAMETERS;
    else if (!m) code = PDU_ERR_INVALID_HANDLE;
    else if (!m->connected) code = PDU_ERR_MODULE_NOT_CONNECTED;
    else {
        bool byTemplate = resourceId == PDU_ID_UNDEF || resourceId == 0;
        if (byTemplate && !pRscData) code = PDU_ERR_INVALID_PARAMETERS;
        else {
            for (const ResourceDef& r : m->def.resources) {
                if (byTemplate ? MatchResourceTemplate(r, *pRscData) : r.id == resourceId) {
                    chosen = &r;
                    break;
                }
            }
            if (!chosen) code = PDU_ERR_INVALID_PARAMETERS;
        }
    }
    std::string outs;
    if (code == 0) {
        Link l;
        l.hCLL = s.nextLink++;
        l.hMod = hMod;
        l.rsc = *chosen;
        l.rawFlag = pCllCreateFlag && pCllCreateFlag->NumFlagBytes && (pCllCreateFlag->pFlagData[0] & 0x80);
        for (unsigned i = 0; i < kCpSlotCount; ++i) l.params[i] = kCpDefaults[i];
        l.params[kCpBaudrate] = s.sc.canBaud;
        l.params[kCpFdBaudrate] = s.sc.canFdDataBaud;
        for (const auto& kv : s.sc.comParamDefaults)
            for (const ComParamDef& d : kComParams)
                if (kv.first == d.name) l.params[d.slot] = kv.second;
        if (!s.ecus.empty()) {
            for (auto& e : s.ecus)
                if (e->Config().bus == EcuBus::Can) {
                    l.params[kCpDoipEcuAddress] = e->Config().doipAddress;
                    break;
                }
        }
        *phCLL = l.hCLL;
        outs = "hCLL=" + std::to_string(l.hCLL) + " kind=" + KindName(l.rsc) + " rid=" + Hex(l.rsc.id);
        s.links[l.hCLL] = std::move(l);
    }
    TraceCall(fCreateComLogicalLink, args, code, outs);
    return code;
}

VCISIM_API PDUDestroyComLogicalLink(UNUM32 hMod, UNUM32 hCLL) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL);
    T_PDU_ERROR code = 0;
    if (Intercepted(fDestroyComLogicalLink, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!FindModule(s, hMod) || !FindLink(s, hMod, hCLL)) code = PDU_ERR_INVALID_HANDLE;
    else s.links.erase(hCLL);
    TraceCall(fDestroyComLogicalLink, args, code, "");
    return code;
}

static T_PDU_ERROR ConnectOrDisconnect(Fn f, UNUM32 hMod, UNUM32 hCLL) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL);
    T_PDU_ERROR code = 0;
    if (Intercepted(f, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Module* m = FindModule(s, hMod);
    Link* l = m ? FindLink(s, hMod, hCLL) : nullptr;
    if (!l) code = PDU_ERR_INVALID_HANDLE;
    else if (!m->connected) code = PDU_ERR_MODULE_NOT_CONNECTED;
    else if (f == fConnect) {
        if (l->connected) code = PDU_ERR_CLL_CONNECTED;
        else l->connected = true;
    } else {
        if (!l->connected) code = PDU_ERR_CLL_NOT_CONNECTED;
        else {
            l->connected = false;
            l->commStarted = false;
            l->events.clear();
            l->isoTp.clear();
        }
    }
    TraceCall(f, args, code, "");
    return code;
}

VCISIM_API PDUConnect(UNUM32 hMod, UNUM32 hCLL) { return ConnectOrDisconnect(fConnect, hMod, hCLL); }
VCISIM_API PDUDisconnect(UNUM32 hMod, UNUM32 hCLL) { return ConnectOrDisconnect(fDisconnect, hMod, hCLL); }

static T_PDU_ERROR LockOrUnlock(Fn f, UNUM32 hMod, UNUM32 hCLL, UNUM32 mask) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL) + " mask=" + Hex(mask);
    T_PDU_ERROR code = 0;
    if (Intercepted(f, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!FindModule(s, hMod) || !FindLink(s, hMod, hCLL)) code = PDU_ERR_INVALID_HANDLE;
    TraceCall(f, args, code, "");
    return code;
}

VCISIM_API PDULockResource(UNUM32 hMod, UNUM32 hCLL, UNUM32 LockMask) { return LockOrUnlock(fLockResource, hMod, hCLL, LockMask); }
VCISIM_API PDUUnlockResource(UNUM32 hMod, UNUM32 hCLL, UNUM32 LockMask) {
    return LockOrUnlock(fUnlockResource, hMod, hCLL, LockMask);
}

VCISIM_API PDUGetComParam(UNUM32 hMod, UNUM32 hCLL, UNUM32 ParamId, PDU_PARAM_ITEM** pParamItem) {
    Sim& s = S();
    const ComParamDef* d = ComParamById(ParamId);
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL) + " id=" + Hex(ParamId) + " name=" + (d ? d->name : "?");
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetComParam, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Link* l = FindModule(s, hMod) ? FindLink(s, hMod, hCLL) : nullptr;
    if (!pParamItem) code = PDU_ERR_INVALID_PARAMETERS;
    else if (!l) code = PDU_ERR_INVALID_HANDLE;
    else if (!d || !ComParamKnown(s, *d)) code = PDU_ERR_COMPARAM_NOT_SUPPORTED;
    else if (s.sc.rejectGet.count(d->name)) code = s.sc.rejectGet[d->name];
    std::string outs;
    if (code == 0) {
        Holder* h = NewHolder(s, PDU_IT_PARAM, nullptr);
        h->value = l->params[d->slot];
        h->paramItem.ComParamId = ParamId;
        h->paramItem.ComParamDataType = PDU_PT_UNUM32;
        h->paramItem.ComParamClass = d->pduClass;
        h->paramItem.pComParamData = &h->value;
        Register(s, h, reinterpret_cast<PDU_ITEM*>(&h->paramItem));
        *pParamItem = &h->paramItem;
        outs = "item=" + ItemRef(h) + " value=" + std::to_string(h->value);
    }
    TraceCall(fGetComParam, args, code, outs);
    return code;
}

VCISIM_API PDUSetComParam(UNUM32 hMod, UNUM32 hCLL, PDU_PARAM_ITEM* pParamItem) {
    Sim& s = S();
    const ComParamDef* d = pParamItem ? ComParamById(pParamItem->ComParamId) : nullptr;
    uint32_t value = 0;
    bool valueOk = false;
    if (pParamItem && pParamItem->pComParamData) {
        const void* p = pParamItem->pComParamData;
        switch (pParamItem->ComParamDataType) {
        case PDU_PT_UNUM8: value = *static_cast<const uint8_t*>(p); valueOk = true; break;
        case PDU_PT_SNUM8: value = uint32_t(int32_t(*static_cast<const int8_t*>(p))); valueOk = true; break;
        case PDU_PT_UNUM16: value = *static_cast<const uint16_t*>(p); valueOk = true; break;
        case PDU_PT_SNUM16: value = uint32_t(int32_t(*static_cast<const int16_t*>(p))); valueOk = true; break;
        case PDU_PT_UNUM32:
        case PDU_PT_SNUM32: value = *static_cast<const uint32_t*>(p); valueOk = true; break;
        default: break;
        }
    }
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL);
    if (pParamItem) {
        args += " id=" + Hex(pParamItem->ComParamId) + " name=" + (d ? d->name : "?") + " type=" +
                Hex(pParamItem->ComParamDataType) + " value=" + (valueOk ? std::to_string(value) : std::string("?"));
    } else {
        args += " item=null";
    }
    T_PDU_ERROR code = 0;
    if (Intercepted(fSetComParam, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Link* l = FindModule(s, hMod) ? FindLink(s, hMod, hCLL) : nullptr;
    if (!pParamItem || pParamItem->ItemType != PDU_IT_PARAM || !pParamItem->pComParamData) code = PDU_ERR_INVALID_PARAMETERS;
    else if (!l) code = PDU_ERR_INVALID_HANDLE;
    else if (!d || !ComParamKnown(s, *d)) code = PDU_ERR_COMPARAM_NOT_SUPPORTED;
    else if (s.sc.rejectSet.count(d->name)) code = s.sc.rejectSet[d->name];
    else if (!valueOk) code = PDU_ERR_INVALID_PARAMETERS;
    else if ((d->slot == kCpFdBaudrate || d->slot == kCpFdTxMaxLen) && !l->rsc.fd) code = PDU_ERR_COMPARAM_NOT_SUPPORTED;
    else if (d->slot == kCpFdTxMaxLen && (value < 8 || value > 64 || FdFrameLength(value) != value))
        code = PDU_ERR_VALUE_NOT_SUPPORTED;
    else if (d->slot == kCpRawMode && value > 1) code = PDU_ERR_VALUE_NOT_SUPPORTED;
    else if ((d->slot == kCpBaudrate || d->slot == kCpFdBaudrate) && value == 0) code = PDU_ERR_VALUE_NOT_SUPPORTED;
    else if (d->slot == kCpRequestAddrMode && value != 1 && value != 2) code = PDU_ERR_VALUE_NOT_SUPPORTED;
    else l->params[d->slot] = value;
    TraceCall(fSetComParam, args, code, "");
    return code;
}

VCISIM_API PDUStartComPrimitive(UNUM32 hMod, UNUM32 hCLL, T_PDU_COPT CoPType, UNUM32 CoPDataSize, UNUM8* pCoPData,
                                PDU_COP_CTRL_DATA* pCopCtrlData, void* pCoPTag, UNUM32* phCoP) {
    Sim& s = S();
    static const char* kCopNames[] = {"STARTCOMM", "STOPCOMM", "UPDATEPARAM", "SENDRECV", "DELAY", "RESTORE_PARAM"};
    std::string tname = CoPType >= PDU_COPT_STARTCOMM && CoPType <= PDU_COPT_RESTORE_PARAM
                            ? kCopNames[CoPType - PDU_COPT_STARTCOMM] : Hex(CoPType);
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL) + " type=" + tname;
    if (pCopCtrlData) {
        args += " time=" + std::to_string(pCopCtrlData->Time) + " send=" + std::to_string(pCopCtrlData->NumSendCycles) +
                " recv=" + std::to_string(pCopCtrlData->NumReceiveCycles);
    } else {
        args += " ctrl=null";
    }
    args += " size=" + std::to_string(CoPDataSize) + " data=" +
            (pCoPData ? HexBytes(pCoPData, std::min<UNUM32>(CoPDataSize, 1u << 20)) : std::string("null"));
    T_PDU_ERROR code = 0;
    if (Intercepted(fStartComPrimitive, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Module* m = FindModule(s, hMod);
    Link* l = m ? FindLink(s, hMod, hCLL) : nullptr;
    bool sendRecv = CoPType == PDU_COPT_SENDRECV;
    if (!phCoP || (CoPDataSize && !pCoPData)) code = PDU_ERR_INVALID_PARAMETERS;
    else if (!l) code = PDU_ERR_INVALID_HANDLE;
    else if (!m->connected) code = PDU_ERR_MODULE_NOT_CONNECTED;
    else if (!l->connected) code = PDU_ERR_CLL_NOT_CONNECTED;
    else if (CoPType < PDU_COPT_STARTCOMM || CoPType > PDU_COPT_RESTORE_PARAM) code = PDU_ERR_INVALID_PARAMETERS;
    else if (sendRecv && (!pCopCtrlData || !CoPDataSize)) code = PDU_ERR_INVALID_PARAMETERS;
    else if (sendRecv && pCopCtrlData->NumSendCycles != 1) code = PDU_ERR_VALUE_NOT_SUPPORTED;
    else if (pCopCtrlData && pCopCtrlData->NumPossibleExpectedResponses && !pCopCtrlData->pExpectedResponseArray)
        code = PDU_ERR_INVALID_PARAMETERS;
    std::string outs;
    if (code == 0) {
        uint32_t hCoP = s.nextCoP++;
        l->lastCoP = hCoP;
        l->cops[hCoP].lastDueUs = NowUs();
        uint32_t timeMs = pCopCtrlData ? pCopCtrlData->Time : 0;
        if (sendRecv) {
            Bytes data(pCoPData, pCoPData + CoPDataSize);
            switch (l->rsc.kind) {
            case LinkKind::Iso15765: SimulateIso15765(s, *m, *l, data, hCoP, pCoPTag, timeMs); break;
            case LinkKind::RawCan: code = SimulateRawCan(s, *m, *l, data, hCoP, pCoPTag); break;
            case LinkKind::KLine: SimulateKLine(s, *m, *l, data, hCoP, pCoPTag, timeMs); break;
            case LinkKind::DoIp: SimulateDoIp(s, *l, data, hCoP, pCoPTag, timeMs); break;
            }
        } else if (CoPType == PDU_COPT_STARTCOMM) {
            l->commStarted = true;
            if (l->rsc.kind == LinkKind::KLine) SimulateKLine(s, *m, *l, Bytes{0x81}, hCoP, pCoPTag, timeMs);
        } else if (CoPType == PDU_COPT_STOPCOMM) {
            l->commStarted = false;
        }
        if (code == 0) {
            if (s.sc.copStatusEvents) {
                Event e;
                e.itemType = PDU_IT_STATUS;
                e.hCoP = hCoP;
                e.copTag = pCoPTag;
                e.code = PDU_COPST_FINISHED;
                e.dueUs = l->cops[hCoP].lastDueUs;
                PushEvent(*l, std::move(e));
            }
            *phCoP = hCoP;
            outs = "hCoP=" + std::to_string(hCoP);
        } else {
            l->cops.erase(hCoP);
        }
    }
    TraceCall(fStartComPrimitive, args, code, outs);
    return code;
}

VCISIM_API PDUCancelComPrimitive(UNUM32 hMod, UNUM32 hCLL, UNUM32 hCoP) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL) + " hCoP=" + H(hCoP);
    T_PDU_ERROR code = 0;
    if (Intercepted(fCancelComPrimitive, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Link* l = FindModule(s, hMod) ? FindLink(s, hMod, hCLL) : nullptr;
    if (!l || !l->cops.count(hCoP)) code = PDU_ERR_INVALID_HANDLE;
    else {
        l->cops[hCoP].cancelled = true;
        l->events.erase(std::remove_if(l->events.begin(), l->events.end(), [&](const Event& e) { return e.hCoP == hCoP; }),
                        l->events.end());
    }
    TraceCall(fCancelComPrimitive, args, code, "");
    return code;
}

VCISIM_API PDUGetEventItem(UNUM32 hMod, UNUM32 hCLL, PDU_EVENT_ITEM** pEventItem) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetEventItem, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Module* m = FindModule(s, hMod);
    Link* l = nullptr;
    if (!pEventItem) code = PDU_ERR_INVALID_PARAMETERS;
    else if (!m) code = PDU_ERR_INVALID_HANDLE;
    else if (hCLL == PDU_HANDLE_UNDEF) code = PDU_ERR_EVENT_QUEUE_EMPTY;  // module events: none simulated
    else if (!(l = FindLink(s, hMod, hCLL))) code = PDU_ERR_INVALID_HANDLE;
    else if (l->events.empty() || l->events.front().dueUs > NowUs()) code = PDU_ERR_EVENT_QUEUE_EMPTY;
    if (code != 0) {
        if (code != PDU_ERR_EVENT_QUEUE_EMPTY || s.sc.traceEmptyPolls) TraceCall(fGetEventItem, args, code, "");
        return code;
    }
    Event e = std::move(l->events.front());
    l->events.pop_front();
    Holder* h = NewHolder(s, e.itemType, nullptr);
    h->eventItem.hCop = e.hCoP;
    h->eventItem.pCoPTag = e.copTag;
    h->eventItem.Timestamp = UNUM32(e.dueUs);
    std::string outs;
    switch (e.itemType) {
    case PDU_IT_RESULT:
        h->bytes = std::move(e.data);
        h->result.RxFlag.NumFlagBytes = 4;
        h->result.RxFlag.pFlagData = h->rxFlag;
        h->result.UniqueRespIdentifier = PDU_ID_UNDEF;
        h->result.AcceptanceId = 1;
        h->result.TimestampFlags.NumFlagBytes = 0;
        h->result.TimestampFlags.pFlagData = nullptr;
        h->result.TxMsgDoneTimestamp = UNUM32(e.txDoneUs);
        h->result.StartMsgTimestamp = UNUM32(e.startUs);
        h->result.pExtraInfo = nullptr;
        h->result.NumDataBytes = UNUM32(h->bytes.size());
        h->result.pDataBytes = h->bytes.empty() ? nullptr : h->bytes.data();
        h->eventItem.pData = &h->result;
        outs = " data=" + HexBytes(h->bytes.data(), h->bytes.size());
        break;
    case PDU_IT_ERROR:
        h->error.ErrorCodeId = e.code;
        h->error.ExtraErrorInfoId = e.extra;
        h->eventItem.pData = &h->error;
        l->lastErr = e.code;
        l->lastErrExtra = e.extra;
        l->lastErrCoP = e.hCoP;
        l->lastErrUs = e.dueUs;
        outs = " error=" + Hex(e.code) + " extra=" + Hex(e.extra);
        break;
    case PDU_IT_STATUS:
        h->status = e.code;
        h->eventItem.pData = &h->status;
        outs = " status=" + Hex(e.code);
        break;
    default:
        h->info.InfoCode = e.code;
        h->info.ExtraInfoData = e.extra;
        h->eventItem.pData = &h->info;
        break;
    }
    Register(s, h, reinterpret_cast<PDU_ITEM*>(&h->eventItem));
    *pEventItem = &h->eventItem;
    TraceCall(fGetEventItem, args, 0, "item=" + ItemRef(h) + " hCoP=" + std::to_string(e.hCoP) + outs);
    return 0;
}

VCISIM_API PDUDestroyItem(PDU_ITEM* pItem) {
    Sim& s = S();
    T_PDU_ERROR code = 0;
    if (Intercepted(fDestroyItem, "item=?", &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!pItem) {
        TraceCall(fDestroyItem, "item=null", PDU_ERR_INVALID_PARAMETERS, "");
        return PDU_ERR_INVALID_PARAMETERS;
    }
    auto it = s.live.find(pItem);
    if (it != s.live.end()) {
        std::string ref = ItemRef(it->second.get());
        s.freed[pItem] = it->second->serial;
        s.live.erase(it);
        TraceCall(fDestroyItem, "item=" + ref, 0, "live=" + std::to_string(s.live.size()));
        return 0;
    }
    auto o = s.orphans.find(pItem);
    if (o != s.orphans.end()) {
        std::string ref = ItemRef(o->second.get());
        s.freed[pItem] = o->second->serial;
        s.orphans.erase(o);
        TraceCall(fDestroyItem, "item=" + ref, 0, "late=1");
        return 0;
    }
    auto f = s.freed.find(pItem);
    if (f != s.freed.end()) {
        TraceCall(fDestroyItem, "item=#" + std::to_string(f->second), PDU_ERR_INVALID_PARAMETERS, "error=DOUBLE_FREE");
        return PDU_ERR_INVALID_PARAMETERS;
    }
    TraceCall(fDestroyItem, "item=unknown", PDU_ERR_INVALID_PARAMETERS, "error=UNKNOWN_ITEM");
    return PDU_ERR_INVALID_PARAMETERS;
}

VCISIM_API PDUIoCtl(UNUM32 hMod, UNUM32 hCLL, UNUM32 IoCtlCommandId, PDU_DATA_ITEM* pInputData,
                    PDU_DATA_ITEM** pOutputData) {
    Sim& s = S();
    const NamedId* io = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lk(s.mu);
        if (!s.loaded) LoadScenario(s);
        io = IoctlById(s, IoCtlCommandId);
    }
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL) + " id=" + std::to_string(IoCtlCommandId) +
                       " name=" + (io ? io->name : "?");
    if (pInputData) {
        args += " in=" + Hex(pInputData->ItemType);
        if (pInputData->ItemType == PDU_IT_IO_UNUM32 && pInputData->pData)
            args += ":" + std::to_string(*static_cast<UNUM32*>(pInputData->pData));
        if (pInputData->ItemType == PDU_IT_IO_ETH_SWITCH_STATE && pInputData->pData) {
            auto* e = static_cast<PDU_IO_ETH_SWITCH_STATE*>(pInputData->pData);
            args += ":state=" + std::to_string(e->EthernetSenseState) + ",pin=" + std::to_string(e->EthernetActPinNumber);
        }
        if (pInputData->ItemType == PDU_IT_IO_VEHICLE_ID_REQUEST && pInputData->pData) {
            auto* v = static_cast<PDU_IO_VEHICLE_ID_REQUEST*>(pInputData->pData);
            args += ":preselection=" + std::to_string(v->PreselectionMode) + ",combination=" +
                    std::to_string(v->CombinationMode) + ",time=" + std::to_string(v->VehicleDiscoveryTime) +
                    ",addresses=" + std::to_string(v->NumDestinationAddresses);
        }
    } else {
        args += " in=null";
    }
    T_PDU_ERROR code = 0;
    if (Intercepted(fIoCtl, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Module* m = FindModule(s, hMod);
    Link* l = nullptr;
    std::string name = io ? io->name : "";
    uint32_t outValue = 0;
    bool wantsOut = false;
    auto inIs = [&](uint32_t type) { return pInputData && pInputData->ItemType == type && pInputData->pData; };
    if (!m) code = PDU_ERR_INVALID_HANDLE;
    else if (hCLL != PDU_HANDLE_UNDEF && !(l = FindLink(s, hMod, hCLL))) code = PDU_ERR_INVALID_HANDLE;
    else if (!io) code = PDU_ERR_ID_NOT_SUPPORTED;
    else if (!m->connected) code = PDU_ERR_MODULE_NOT_CONNECTED;
    else if (s.sc.ioctlResults.count(name)) code = s.sc.ioctlResults[name];
    else if (name == "PDU_IOCTL_READ_VBATT") {
        wantsOut = true;
        outValue = m->def.vbattMv;
    } else if (name == "PDU_IOCTL_READ_IGNITION_SENSE_STATE") {
        wantsOut = true;
        outValue = m->def.ignition;
    } else if (name == "PDU_IOCTL_READ_PROG_VOLTAGE") {
        wantsOut = true;
        outValue = m->progVoltageMv;
    } else if (name == "PDU_IOCTL_GET_CABLE_ID") {
        wantsOut = true;
        outValue = 1;
    } else if (name == "PDU_IOCTL_GET_ENTITY_STATUS") {
        wantsOut = true;
        outValue = s.vehicleIdDone ? 1 : 0;
    } else if (name == "PDU_IOCTL_SET_ETH_SWITCH_STATE") {
        if (!inIs(PDU_IT_IO_ETH_SWITCH_STATE)) code = PDU_ERR_INVALID_PARAMETERS;
        else {
            auto* e = static_cast<PDU_IO_ETH_SWITCH_STATE*>(pInputData->pData);
            if (e->EthernetSenseState > 1) code = PDU_ERR_VALUE_NOT_SUPPORTED;
            else m->ethSwitch = e->EthernetSenseState;
        }
    } else if (name == "PDU_IOCTL_VEHICLE_ID_REQUEST") {
        if (!inIs(PDU_IT_IO_VEHICLE_ID_REQUEST)) code = PDU_ERR_INVALID_PARAMETERS;
        else {
            auto* v = static_cast<PDU_IO_VEHICLE_ID_REQUEST*>(pInputData->pData);
            if (v->NumDestinationAddresses && !v->pDestinationAddresses) code = PDU_ERR_INVALID_PARAMETERS;
            else s.vehicleIdDone = true;
        }
    } else if (name == "PDU_IOCTL_SET_PROG_VOLTAGE") {
        if (!inIs(PDU_IT_IO_PROG_VOLTAGE)) code = PDU_ERR_INVALID_PARAMETERS;
        else m->progVoltageMv = *static_cast<UNUM32*>(pInputData->pData);
    } else if (name.find("LOCATOR") != std::string::npos || name.find("DISCOVERY") != std::string::npos) {
        if (!inIs(PDU_IT_IO_UNUM32)) code = PDU_ERR_INVALID_PARAMETERS;
    } else if (name == "PDU_IOCTL_CLEAR_RX_QUEUE" || name == "PDU_IOCTL_CLEAR_TX_QUEUE" || name == "PDU_IOCTL_RESET") {
        for (auto& kv : s.links)
            if (kv.second.hMod == hMod && (!l || &kv.second == l)) {
                kv.second.events.clear();
                kv.second.isoTp.clear();
            }
    }
    if (code == 0 && wantsOut && !pOutputData) code = PDU_ERR_INVALID_PARAMETERS;
    std::string outs;
    if (code == 0 && wantsOut) {
        Holder* h = NewHolder(s, PDU_IT_IO_UNUM32, nullptr);
        h->value = outValue;
        h->dataItem.pData = &h->value;
        Register(s, h, reinterpret_cast<PDU_ITEM*>(&h->dataItem));
        *pOutputData = &h->dataItem;
        outs = "out=" + ItemRef(h) + " value=" + std::to_string(outValue);
    } else if (pOutputData && code == 0) {
        *pOutputData = nullptr;
    }
    TraceCall(fIoCtl, args, code, outs);
    return code;
}

VCISIM_API PDUGetVersion(UNUM32 hMod, PDU_VERSION_DATA* pVersionData) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetVersion, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Module* m = FindModule(s, hMod);
    if (!pVersionData) code = PDU_ERR_INVALID_PARAMETERS;
    else if (!m) code = PDU_ERR_INVALID_HANDLE;
    else {
        std::memset(pVersionData, 0, sizeof *pVersionData);
        pVersionData->MVCI_Part1StandardVersion = 0x03000000;
        pVersionData->MVCI_Part2StandardVersion = 0x03000000;
        pVersionData->HwSerialNumber = m->hMod;
        std::snprintf(pVersionData->HwName, sizeof pVersionData->HwName, "%s", m->def.name.c_str());
        pVersionData->HwVersion = 0x01000000;
        std::snprintf(pVersionData->FwName, sizeof pVersionData->FwName, "VciSim firmware");
        pVersionData->FwVersion = 0x01000000;
        std::snprintf(pVersionData->VendorName, sizeof pVersionData->VendorName, "VciSim");
        std::snprintf(pVersionData->PDUApiSwName, sizeof pVersionData->PDUApiSwName, "VciSim D-PDU API");
        pVersionData->PDUApiSwVersion = 0x01000000;
    }
    TraceCall(fGetVersion, args, code, "");
    return code;
}

VCISIM_API PDUGetStatus(UNUM32 hMod, UNUM32 hCLL, UNUM32 hCoP, T_PDU_STATUS* pStatusCode, UNUM32* pTimestamp,
                        UNUM32* pExtraInfo) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL) + " hCoP=" + H(hCoP);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetStatus, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Module* m = FindModule(s, hMod);
    uint32_t st = 0;
    if (!pStatusCode || !pTimestamp || !pExtraInfo) code = PDU_ERR_INVALID_PARAMETERS;
    else if (!m) code = PDU_ERR_INVALID_HANDLE;
    else if (hCLL == PDU_HANDLE_UNDEF) st = m->status;
    else {
        Link* l = FindLink(s, hMod, hCLL);
        if (!l) code = PDU_ERR_INVALID_HANDLE;
        else if (hCoP == PDU_HANDLE_UNDEF)
            st = !l->connected ? PDU_CLLST_OFFLINE : (l->commStarted ? PDU_CLLST_COMM_STARTED : PDU_CLLST_ONLINE);
        else if (!l->cops.count(hCoP)) code = PDU_ERR_INVALID_HANDLE;
        else {
            const CopState& c = l->cops[hCoP];
            st = c.cancelled ? PDU_COPST_CANCELLED : (c.lastDueUs <= NowUs() ? PDU_COPST_FINISHED : PDU_COPST_EXECUTING);
        }
    }
    if (code == 0) {
        *pStatusCode = st;
        *pTimestamp = UNUM32(NowUs());
        *pExtraInfo = 0;
    }
    TraceCall(fGetStatus, args, code, code == 0 ? "status=" + Hex(st) : std::string());
    return code;
}

VCISIM_API PDUGetLastError(UNUM32 hMod, UNUM32 hCLL, T_PDU_ERR_EVT* pErrorCode, UNUM32* phCoP, UNUM32* pTimestamp,
                           UNUM32* pExtraErrorInfo) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetLastError, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Link* l = nullptr;
    if (!pErrorCode || !phCoP || !pTimestamp || !pExtraErrorInfo) code = PDU_ERR_INVALID_PARAMETERS;
    else if (!FindModule(s, hMod)) code = PDU_ERR_INVALID_HANDLE;
    else if (hCLL != PDU_HANDLE_UNDEF && !(l = FindLink(s, hMod, hCLL))) code = PDU_ERR_INVALID_HANDLE;
    else {
        *pErrorCode = l ? l->lastErr : 0;
        *phCoP = l ? l->lastErrCoP : PDU_HANDLE_UNDEF;
        *pTimestamp = l ? UNUM32(l->lastErrUs) : 0;
        *pExtraErrorInfo = l ? l->lastErrExtra : 0;
    }
    TraceCall(fGetLastError, args, code, "");
    return code;
}

VCISIM_API PDUGetResourceStatus(PDU_RSC_STATUS_ITEM* pResourceStatus) {
    Sim& s = S();
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetResourceStatus, "", &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!pResourceStatus || pResourceStatus->ItemType != PDU_IT_RSC_STATUS ||
        (pResourceStatus->NumEntries && !pResourceStatus->pResourceStatusData))
        code = PDU_ERR_INVALID_PARAMETERS;
    else {
        for (UNUM32 i = 0; i < pResourceStatus->NumEntries && code == 0; ++i) {
            PDU_RSC_STATUS_DATA& d = pResourceStatus->pResourceStatusData[i];
            Module* m = FindModule(s, d.hMod);
            if (!m) {
                code = PDU_ERR_INVALID_HANDLE;
                break;
            }
            bool known = false;
            for (const ResourceDef& r : m->def.resources) known = known || r.id == d.ResourceId;
            if (!known) code = PDU_ERR_INVALID_PARAMETERS;
            else d.ResourceStatus = 1;  // available
        }
    }
    TraceCall(fGetResourceStatus, "entries=" + std::to_string(pResourceStatus ? pResourceStatus->NumEntries : 0), code, "");
    return code;
}

VCISIM_API PDURegisterEventCallback(UNUM32 hMod, UNUM32 hCLL, PDUEventCallbackFn EventCallbackFunction) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL) + " callback=" + Ptr(reinterpret_cast<void*>(EventCallbackFunction));
    T_PDU_ERROR code = 0;
    if (Intercepted(fRegisterEventCallback, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (hMod != PDU_HANDLE_UNDEF && !FindModule(s, hMod)) code = PDU_ERR_INVALID_HANDLE;
    else if (hCLL != PDU_HANDLE_UNDEF && !FindLink(s, hMod, hCLL)) code = PDU_ERR_INVALID_HANDLE;
    else s.callback = EventCallbackFunction;
    TraceCall(fRegisterEventCallback, args, code, "");
    return code;
}

VCISIM_API PDUGetConflictingResources(UNUM32 resourceId, PDU_MODULE_ITEM* pInputModuleList,
                                      PDU_RSC_CONFLICT_ITEM** pOutputConflictList) {
    Sim& s = S();
    std::string args = "resourceId=" + Hex(resourceId) + " modules=" + Ptr(pInputModuleList);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetConflictingResources, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    std::string outs;
    if (!pOutputConflictList || !pInputModuleList || pInputModuleList->ItemType != PDU_IT_MODULE_ID) code = PDU_ERR_INVALID_PARAMETERS;
    else {
        Holder* h = NewHolder(s, PDU_IT_RSC_CONFLICT, nullptr);
        Register(s, h, reinterpret_cast<PDU_ITEM*>(&h->conflictItem));
        *pOutputConflictList = &h->conflictItem;
        outs = "item=" + ItemRef(h) + " conflicts=0";
    }
    TraceCall(fGetConflictingResources, args, code, outs);
    return code;
}

VCISIM_API PDUGetUniqueRespIdTable(UNUM32 hMod, UNUM32 hCLL, PDU_UNIQUE_RESP_ID_TABLE_ITEM** pUniqueRespIdTable) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetUniqueRespIdTable, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    std::string outs;
    if (!pUniqueRespIdTable) code = PDU_ERR_INVALID_PARAMETERS;
    else if (!FindModule(s, hMod) || !FindLink(s, hMod, hCLL)) code = PDU_ERR_INVALID_HANDLE;
    else {
        Holder* h = NewHolder(s, PDU_IT_UNIQUE_RESP_ID_TABLE, nullptr);
        Register(s, h, reinterpret_cast<PDU_ITEM*>(&h->tableItem));
        *pUniqueRespIdTable = &h->tableItem;
        outs = "item=" + ItemRef(h) + " entries=0";
    }
    TraceCall(fGetUniqueRespIdTable, args, code, outs);
    return code;
}

VCISIM_API PDUSetUniqueRespIdTable(UNUM32 hMod, UNUM32 hCLL, PDU_UNIQUE_RESP_ID_TABLE_ITEM* pUniqueRespIdTable) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL) + " entries=" +
                       (pUniqueRespIdTable ? std::to_string(pUniqueRespIdTable->NumEntries) : std::string("null"));
    T_PDU_ERROR code = 0;
    if (Intercepted(fSetUniqueRespIdTable, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!pUniqueRespIdTable || pUniqueRespIdTable->ItemType != PDU_IT_UNIQUE_RESP_ID_TABLE ||
        (pUniqueRespIdTable->NumEntries && !pUniqueRespIdTable->pUniqueData))
        code = PDU_ERR_INVALID_PARAMETERS;
    else if (!FindModule(s, hMod) || !FindLink(s, hMod, hCLL)) code = PDU_ERR_INVALID_HANDLE;
    TraceCall(fSetUniqueRespIdTable, args, code, "");
    return code;
}

VCISIM_API PDUGetTimestamp(UNUM32 hMod, UNUM32* pTimestamp) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetTimestamp, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!pTimestamp) code = PDU_ERR_INVALID_PARAMETERS;
    else if (!FindModule(s, hMod)) code = PDU_ERR_INVALID_HANDLE;
    else *pTimestamp = UNUM32(NowUs());
    TraceCall(fGetTimestamp, args, code, "");
    return code;
}
