#include "vcisim/sim_state.h"

#include <algorithm>

#include "platform/platform.h"

namespace vcisim {
namespace {

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

std::string Dir(const std::string& path) {
    size_t p = path.find_last_of("\\/");
    return p == std::string::npos ? std::string() : path.substr(0, p);
}

}  // namespace

namespace {
std::atomic<Sim*> g_sim{nullptr};
}  // namespace

Sim& S() {
    static Sim* sim = [] {
        Sim* created = new Sim();
        g_sim = created;
        return created;
    }();
    return *sim;
}

uint64_t NowUs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - S().epoch).count());
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

// ---- items ------------------------------------------------------------------------------------
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

// ---- look-ups ---------------------------------------------------------------------------------
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

}  // namespace vcisim

// The simulator is not destroyed at process exit, when calls may still come; an explicit unload
// frees it (with its trace file and the items a client never gave back), so a client that loads
// and unloads the library again and again does not pile up simulators.
void LibraryAttach() {}
void LibraryDetach(bool processEnding) {
    if (!processEnding) delete vcisim::g_sim.exchange(nullptr);
}
