// VciSim: a D-PDU API (ISO 22900-2) library that simulates VCI modules, the vehicle bus and the
// ECUs behind it. Behaviour, scenario settings and the trace format: vcisim/README.md.
//
// The simulator's shared state: modules, links, their pending events and the items handed out.
// Everything here is used with S().mu held, except S() and NowUs().
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "dpdu_api/pdu_api.h"
#include "vcisim/ecu_isotp.h"
#include "vcisim/ecu_uds.h"
#include "vcisim/objects.h"
#include "vcisim/scenario.h"
#include "vcisim/trace.h"

namespace vcisim {

// The exported functions, for call counters, faults and the trace.
enum Fn {
    fConstruct, fDestruct, fIoCtl, fGetVersion, fGetStatus, fGetLastError, fGetResourceStatus,
    fCreateComLogicalLink, fDestroyComLogicalLink, fConnect, fDisconnect, fLockResource,
    fUnlockResource, fGetComParam, fSetComParam, fStartComPrimitive, fCancelComPrimitive,
    fGetEventItem, fDestroyItem, fRegisterEventCallback, fGetObjectId, fGetModuleIds,
    fGetResourceIds, fGetConflictingResources, fGetUniqueRespIdTable, fSetUniqueRespIdTable,
    fModuleConnect, fModuleDisconnect, fGetTimestamp, kFnCount
};

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

// ---- links, modules, events ------------------------------------------------------------------
struct Event {
    uint64_t dueUs = 0;
    uint32_t itemType = PDU_IT_RESULT;
    uint32_t hCoP = 0;
    void* copTag = nullptr;
    Bytes data;
    uint32_t code = 0, extra = 0;  // ERROR: code / extra; STATUS: code = status
    uint64_t txDoneUs = 0, startUs = 0;
    bool generated = false;  // a frame of the traffic generator
};

struct CopState {
    uint64_t lastDueUs = 0;
    bool cancelled = false;
    bool receiving = false;  // started with NumReceiveCycles other than 0
    bool endless = false;    // NumReceiveCycles -1 or -2: runs until cancelled
    void* tag = nullptr;
};

// What a link's receive queue saw since the link was connected (and, in Sim, since loading).
struct TrafficCounts {
    uint64_t generated = 0;  // frames of the traffic generator that arrived
    uint64_t delivered = 0;  // of those, handed out by PDUGetEventItem
    uint64_t dropped = 0;    // events pushed out of a full queue (oldest first)
};

// The traffic generator of a raw CAN link: frame k of a run arrives at
// startUs + ceil((k + 1) * periodNum / periodDen) µs; frames are made when a call looks.
struct Generator {
    bool running = false;
    uint64_t startUs = 0;
    uint64_t periodNum = 1, periodDen = 1;
    uint64_t made = 0;     // frames of this run already queued or counted as dropped
    uint64_t seqBase = 0;  // sequence number of the run's first frame
    uint32_t hCoP = 0;
    void* tag = nullptr;
};

struct Link {
    uint32_t hCLL = 0;
    uint32_t hMod = 0;
    ResourceDef rsc;
    bool connected = false;
    bool commStarted = false;
    bool rawFlag = false;  // CllCreateFlag byte 0 bit 7
    bool fd = false;       // runs CAN FD: a CAN FD ComParam was set on a CAN FD capable resource
    uint32_t params[kCpSlotCount];
    std::deque<Event> events;
    std::map<uint32_t, CopState> cops;
    uint32_t lastCoP = 0;
    std::map<size_t, std::unique_ptr<EcuIsoTpSession>> isoTp;  // per ECU index (raw CAN)
    uint32_t lastErr = 0, lastErrExtra = 0, lastErrCoP = PDU_HANDLE_UNDEF;
    uint64_t lastErrUs = 0;
    Generator gen;
    TrafficCounts counts;
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
    TrafficCounts totals;  // every link since the library was loaded
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

Sim& S();
uint64_t NowUs();
void LoadScenario(Sim& s);

// A new holder; Register (called right after filling it) hands it to the live set.
Holder* NewHolder(Sim& s, uint32_t type, PDU_ITEM* /*unused*/);
void Register(Sim& s, Holder* h, PDU_ITEM* head);
std::string ItemRef(const Holder* h);

Module* FindModule(Sim& s, uint32_t hMod);
bool ModuleVisible(const Sim& s, const Module& m);
Link* FindLink(Sim& s, uint32_t hMod, uint32_t hCLL);
bool MatchResourceTemplate(const ResourceDef& r, const PDU_RSC_DATA& t);
const ComParamDef* ComParamById(uint32_t id);
bool ComParamKnown(const Sim& s, const ComParamDef& d);
const NamedId* IoctlById(const Sim& s, uint32_t id);
void PushEvent(Link& l, Event e);

}  // namespace vcisim
