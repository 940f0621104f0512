#include "vcisim/calls.h"

namespace vcisim {
namespace {

const char* const kFnNames[kFnCount] = {
    "PDUConstruct", "PDUDestruct", "PDUIoCtl", "PDUGetVersion", "PDUGetStatus", "PDUGetLastError",
    "PDUGetResourceStatus", "PDUCreateComLogicalLink", "PDUDestroyComLogicalLink", "PDUConnect",
    "PDUDisconnect", "PDULockResource", "PDUUnlockResource", "PDUGetComParam", "PDUSetComParam",
    "PDUStartComPrimitive", "PDUCancelComPrimitive", "PDUGetEventItem", "PDUDestroyItem",
    "PDURegisterEventCallback", "PDUGetObjectId", "PDUGetModuleIds", "PDUGetResourceIds",
    "PDUGetConflictingResources", "PDUGetUniqueRespIdTable", "PDUSetUniqueRespIdTable",
    "PDUModuleConnect", "PDUModuleDisconnect", "PDUGetTimestamp"};

// When the call in progress on this thread came in: what TraceTimes reports.
thread_local uint64_t t_callStartUs = 0;

// A write into the first page, which is never mapped: an access violation, which the undefined-
// behaviour sanitizer does not stop first as it would a write through a null pointer.
void Crash() {
    volatile int* volatile p = reinterpret_cast<volatile int*>(uintptr_t{16});
    *p = 1;
}

// Common entry: counts the call, applies crash/error/lost-VCI faults and the construct check.
// Returns true when the call is answered here with *code. A crash abandons the calling frames
// without their destructors, so the caller's argument text gives back its memory first.
bool Prologue(Fn f, T_PDU_ERROR* code, std::string* why, std::string* args) {
    t_callStartUs = NowUs();
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
        std::string().swap(*args);
        Crash();
    }
    return answered;
}

}  // namespace

void TraceCall(Fn f, const std::string& args, T_PDU_ERROR code, const std::string& outs) {
    Sim& s = S();
    if (!s.trace.Enabled()) return;
    std::string line = kFnNames[f];
    if (!args.empty()) line += " " + args;
    line += " -> " + Hex(code);
    if (!outs.empty()) line += " " + outs;
    if (s.sc.traceTimes) line += " t=" + std::to_string(t_callStartUs);
    s.trace.Line(line);
}

bool Intercepted(Fn f, std::string& args, T_PDU_ERROR* code) {
    std::string why;
    if (!Prologue(f, code, &why, &args)) return false;
    TraceCall(f, args, *code, why.empty() ? why : why.substr(1));
    return true;
}

std::string H(uint32_t h) { return h == PDU_HANDLE_UNDEF ? std::string("UNDEF") : std::to_string(h); }
std::string Ptr(const void* p) { return p ? "set" : "null"; }

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

}  // namespace vcisim
