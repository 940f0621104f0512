#include "driver/dpdu/api_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <unordered_set>

#include "driver/bench/bench.h"
#include "driver/dpdu/backend_state.h"
#include "driver/dpdu/session_note.h"
#include "driver/config/driver_config.h"
#include "driver/log/log.h"
#include "driver/config/module_identity.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kIgnitionSenseCmd = 16;
constexpr uint32_t kSynthesisedZeroCmd = 134;

template <typename Fn>
void Bind(Fn* slot, const char* name) {
    *slot = reinterpret_cast<Fn>(platform::GetLibrarySymbol(g_backend.api.library, name));
}

void ClearTable() {
    g_backend.api.bound = false;
    g_backend.api.PDUConstruct = nullptr;
    g_backend.api.PDUDestruct = nullptr;
    g_backend.api.PDUModuleConnect = nullptr;
    g_backend.api.PDUModuleDisconnect = nullptr;
    g_backend.api.PDUIoCtl = nullptr;
    g_backend.api.PDUCreateComLogicalLink = nullptr;
    g_backend.api.PDUDestroyComLogicalLink = nullptr;
    g_backend.api.PDUConnect = nullptr;
    g_backend.api.PDUDisconnect = nullptr;
    g_backend.api.PDUGetComParam = nullptr;
    g_backend.api.PDUSetComParam = nullptr;
    g_backend.api.PDUStartComPrimitive = nullptr;
    g_backend.api.PDUGetEventItem = nullptr;
    g_backend.api.PDUDestroyItem = nullptr;
    g_backend.api.PDUGetObjectId = nullptr;
    g_backend.api.PDUGetModuleIds = nullptr;
    g_backend.api.PDUGetResourceIds = nullptr;
}

void UnloadLocked() {
    ClearTable();
    if (g_backend.api.library) platform::FreeLibraryFile(g_backend.api.library);
    g_backend.api.library = nullptr;
}

void BindAll() {
    Bind(&g_backend.api.PDUConstruct, "PDUConstruct");
    Bind(&g_backend.api.PDUDestruct, "PDUDestruct");
    Bind(&g_backend.api.PDUModuleConnect, "PDUModuleConnect");
    Bind(&g_backend.api.PDUModuleDisconnect, "PDUModuleDisconnect");
    Bind(&g_backend.api.PDUIoCtl, "PDUIoCtl");
    Bind(&g_backend.api.PDUCreateComLogicalLink, "PDUCreateComLogicalLink");
    Bind(&g_backend.api.PDUDestroyComLogicalLink, "PDUDestroyComLogicalLink");
    Bind(&g_backend.api.PDUConnect, "PDUConnect");
    Bind(&g_backend.api.PDUDisconnect, "PDUDisconnect");
    Bind(&g_backend.api.PDUGetComParam, "PDUGetComParam");
    Bind(&g_backend.api.PDUSetComParam, "PDUSetComParam");
    Bind(&g_backend.api.PDUStartComPrimitive, "PDUStartComPrimitive");
    Bind(&g_backend.api.PDUGetEventItem, "PDUGetEventItem");
    Bind(&g_backend.api.PDUDestroyItem, "PDUDestroyItem");
    Bind(&g_backend.api.PDUGetObjectId, "PDUGetObjectId");
    Bind(&g_backend.api.PDUGetModuleIds, "PDUGetModuleIds");
    Bind(&g_backend.api.PDUGetResourceIds, "PDUGetResourceIds");
    // Looked up for completeness only: the driver polls and never calls these.
    static const char* const kUnused[] = {"PDUGetTimestamp",          "PDUGetVersion",
                                          "PDUGetStatus",             "PDUGetLastError",
                                          "PDUGetResourceStatus",     "PDULockResource",
                                          "PDUUnlockResource",        "PDUCancelComPrimitive",
                                          "PDURegisterEventCallback", "PDUGetConflictingResources",
                                          "PDUGetUniqueRespIdTable",  "PDUSetUniqueRespIdTable"};
    for (const char* name : kUnused) (void)platform::GetLibrarySymbol(g_backend.api.library, name);
}

bool Usable(const void* entry) { return g_backend.api.bound && entry; }

std::string Pointer(const void* p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

struct ObjectIdCall {
    PDUGetObjectIdFn fn;
    uint32_t objectType;
    CHAR8* name;
    uint32_t* id;
    uint32_t result;
};
void RunObjectIdCall(void* p) {
    ObjectIdCall* c = static_cast<ObjectIdCall*>(p);
    c->result = c->fn(c->objectType, c->name, c->id);
}

struct IoCtlCall {
    PDUIoCtlFn fn;
    uint32_t hMod;
    uint32_t commandId;
    PDU_DATA_ITEM* input;
    PDU_DATA_ITEM** output;
    uint32_t result;
};
void RunIoCtlCall(void* p) {
    IoCtlCall* c = static_cast<IoCtlCall*>(p);
    c->result = c->fn(c->hMod, PDU_HANDLE_UNDEF, c->commandId, c->input, c->output);
}

struct CreateCall {
    PDUCreateComLogicalLinkFn fn;
    uint32_t hMod;
    PDU_RSC_DATA* resourceData;
    uint32_t resourceId;
    uint32_t* hCLL;
    PDU_FLAG_DATA* flags;
    uint32_t order;
    uint32_t result;
};
// Orders 2 to 4 swap arguments of equal size on the 32-bit target, for vendor libraries
// whose export does not follow the standard's order.
void RunCreateCall(void* p) {
    CreateCall* c = static_cast<CreateCall*>(p);
    PDU_RSC_DATA* ridAsPointer = reinterpret_cast<PDU_RSC_DATA*>(static_cast<uintptr_t>(c->resourceId));
    uint32_t pointerAsRid = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(c->resourceData));
    uint32_t* flagsAsHandle = reinterpret_cast<uint32_t*>(c->flags);
    PDU_FLAG_DATA* handleAsFlags = reinterpret_cast<PDU_FLAG_DATA*>(c->hCLL);
    switch (c->order) {
        case 2:
            c->result = c->fn(c->hMod, ridAsPointer, pointerAsRid, nullptr, c->hCLL, c->flags);
            break;
        case 3:
            c->result = c->fn(c->hMod, c->resourceData, c->resourceId, nullptr, flagsAsHandle, handleAsFlags);
            break;
        case 4:
            c->result = c->fn(c->hMod, ridAsPointer, pointerAsRid, nullptr, flagsAsHandle, handleAsFlags);
            break;
        default:
            c->result = c->fn(c->hMod, c->resourceData, c->resourceId, nullptr, c->hCLL, c->flags);
            break;
    }
}

// Orders 2 and 4 pass the resource id and the resource-data pointer in each other's place, which
// only fits where a pointer is 32 bits wide; elsewhere the pointer would reach the library cut.
bool OrderFitsThisTarget(uint32_t order) {
    return sizeof(void*) == sizeof(uint32_t) || order == 1 || order == 3;
}

// One create attempt in the given order; *crashed tells whether it raised an exception.
uint32_t CreateInOrder(CreateCall call, uint32_t order, bool* crashed) {
    call.order = order;
    uint32_t exceptionCode = 0;
    std::shared_lock<std::shared_mutex> use(g_backend.libraryUse);
    if (!Usable(reinterpret_cast<const void*>(g_backend.api.PDUCreateComLogicalLink))) {
        *crashed = false;
        return PDU_ERR_FCT_FAILED;
    }
    call.fn = g_backend.api.PDUCreateComLogicalLink;
    *crashed = !platform::RunGuarded(&RunCreateCall, &call, &exceptionCode);
    if (*crashed) {
        LogPrintf("PDUCreateComLogicalLink exception=0x%X order=%u rid=%u", exceptionCode, order, call.resourceId);
        return PDU_ERR_INVALID_PARAMETERS;
    }
    return call.result;
}

}  // namespace

std::string PduCodeText(uint32_t code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", code);
    return buf;
}

std::vector<std::string> VendorLibraryCandidates() {
    const std::string& name = g_config.DpduSettings.DllName;
    std::string configured = g_config.DpduLibraryPath;
    if (configured.empty() && !name.empty())
        configured = g_config.DpduSettings.DllPath.empty() ? name : g_config.DpduSettings.DllPath + "\\" + name;
    std::vector<std::string> out;
    if (!configured.empty() && platform::IsAbsolutePath(configured)) out.push_back(configured);
    if (!name.empty() && platform::IsAbsolutePath(name)) out.push_back(name);
    std::string dir = ModuleDirectory();
    if (!dir.empty() && !name.empty()) {
        if (!platform::IsPathSeparator(dir.back())) dir += platform::kPathSeparator;
        out.push_back(dir + name);
    }
    if (!name.empty()) out.push_back(name);
    return out;
}

bool LoadVendorLibrary(const std::vector<std::string>& candidates, std::vector<std::string>* tried) {
    std::unique_lock<std::shared_mutex> use(g_backend.libraryUse);
    for (const std::string& path : candidates) {
        if (path.empty()) continue;
        if (tried) tried->push_back(path);
        WriteLogLine("Dpdu_Init: trying D-PDU DLL '" + path + "'");
        UnloadLocked();
        g_backend.api.library = platform::LoadLibraryFile(path);
        if (g_backend.api.library) {
            BindAll();
            if (g_backend.api.PDUConstruct && g_backend.api.PDUDestruct) {
                g_backend.api.bound = true;
                g_backend.api.loadedPath = path;
                g_backend.api.createOrder = 0;  // another library may want another order
                WriteLogLine("Dpdu_Init: successfully loaded '" + path + "'");
                WriteLogLine("Dpdu_Init loaded backend: PASS");
                return true;
            }
            UnloadLocked();
        }
        WriteLogLine("Dpdu_Init: Load failed for '" + path + "'");
    }
    return false;
}

void UnloadVendorLibrary() {
    {
        std::unique_lock<std::shared_mutex> use(g_backend.libraryUse);
        UnloadLocked();
    }
    NoteReleased();
}

namespace {

template <typename Call>
struct BoxedCall {
    Call* call;
    uint32_t result;
};
template <typename Call>
void RunBoxedCall(void* p) {
    BoxedCall<Call>* box = static_cast<BoxedCall<Call>*>(p);
    box->result = (*box->call)();
}

// A vendor call under the crash guard: a crash becomes PDU_ERR_INVALID_PARAMETERS with a log
// line, and whatever the crashed call left in *output is not taken for an item. Calls made for
// every message take the quick guard; the others install the guard's handlers again, so a host
// that set up its own crash handler since the last session cannot take crashes away from it.
template <typename Call, typename Out = void>
uint32_t GuardedVendorCall(const char* name, bool everyMessage, Call call, Out** output = nullptr) {
    BoxedCall<Call> box{&call, PDU_ERR_FCT_FAILED};
    uint32_t exceptionCode = 0;
    const bool finished = everyMessage ? platform::RunGuardedQuick(&RunBoxedCall<Call>, &box, &exceptionCode)
                                       : platform::RunGuarded(&RunBoxedCall<Call>, &box, &exceptionCode);
    if (finished) return box.result;
    if (output) *output = nullptr;
    LogPrintf("%s exception=0x%X", name, exceptionCode);
    return PDU_ERR_INVALID_PARAMETERS;
}

constexpr bool kEveryMessage = true;
constexpr bool kOccasional = false;
constexpr void** kNoOutput = nullptr;

}  // namespace

// Not bound or entry point missing: PDU_ERR_FCT_FAILED, no call.
#define VENDOR_CALL(entry, everyMessage, output, ...)                                         \
    std::shared_lock<std::shared_mutex> use(g_backend.libraryUse);                                    \
    if (!Usable(reinterpret_cast<const void*>(g_backend.api.entry))) return PDU_ERR_FCT_FAILED; \
    const auto fn = g_backend.api.entry;                                                          \
    return GuardedVendorCall(#entry, everyMessage, [&] { return fn(__VA_ARGS__); }, output)

uint32_t CallPDUConstruct(const char* option) {
    VENDOR_CALL(PDUConstruct, kOccasional, kNoOutput, const_cast<CHAR8*>(option), nullptr);
}
uint32_t CallPDUDestruct() { VENDOR_CALL(PDUDestruct, kOccasional, kNoOutput); }
// The calls that change what the backend holds keep this copy's note of it.
uint32_t CallPDUModuleConnect(uint32_t hMod) {
    const uint32_t code = [&] { VENDOR_CALL(PDUModuleConnect, kOccasional, kNoOutput, hMod); }();
    if (code == PDU_STATUS_NOERROR) NoteModule(hMod, true);
    return code;
}
uint32_t CallPDUModuleDisconnect(uint32_t hMod) {
    NoteModule(hMod, false);
    VENDOR_CALL(PDUModuleDisconnect, kOccasional, kNoOutput, hMod);
}
uint32_t CallPDUDestroyComLogicalLink(uint32_t hMod, uint32_t hCLL) {
    NoteLink(hMod, hCLL, false);
    VENDOR_CALL(PDUDestroyComLogicalLink, kOccasional, kNoOutput, hMod, hCLL);
}
uint32_t CallPDUConnect(uint32_t hMod, uint32_t hCLL) { VENDOR_CALL(PDUConnect, kOccasional, kNoOutput, hMod, hCLL); }
uint32_t CallPDUDisconnect(uint32_t hMod, uint32_t hCLL) {
    VENDOR_CALL(PDUDisconnect, kOccasional, kNoOutput, hMod, hCLL);
}
uint32_t CallPDUGetComParam(uint32_t hMod, uint32_t hCLL, uint32_t paramId, PDU_PARAM_ITEM** item) {
    VENDOR_CALL(PDUGetComParam, kOccasional, item, hMod, hCLL, paramId, item);
}
uint32_t CallPDUSetComParam(uint32_t hMod, uint32_t hCLL, PDU_PARAM_ITEM* item) {
    VENDOR_CALL(PDUSetComParam, kOccasional, kNoOutput, hMod, hCLL, item);
}
uint32_t CallPDUStartComPrimitive(uint32_t hMod, uint32_t hCLL, uint32_t type, uint32_t size, uint8_t* data,
                                  PDU_COP_CTRL_DATA* control, uint32_t* hCoP) {
    const uint32_t code = [&] {
        VENDOR_CALL(PDUStartComPrimitive, kEveryMessage, kNoOutput, hMod, hCLL, type, size, data, control, nullptr,
                    hCoP);
    }();
    if (code == PDU_STATUS_NOERROR && hCoP) NoteComPrimitiveStarted(hMod, hCLL, *hCoP);
    return code;
}

namespace {

constexpr const char* kGetEventItem = "PDUGetEventItem";
constexpr const char* kDestroyItem = "PDUDestroyItem";

struct EventTake {
    PDUGetEventItemFn get;
    PDUDestroyItemFn destroy;
    uint32_t hMod;
    uint32_t hCLL;
    EventItemCopy* copy;
    uint8_t* data;
    size_t capacity;
    const char* call;  // the one under way, for the line a crash writes
    uint32_t code;
};

void CopyEventItem(const PDU_EVENT_ITEM& item, EventItemCopy* copy, uint8_t* data, size_t capacity) {
    copy->type = item.ItemType;
    copy->hCop = item.hCop;
    if (!item.pData) return;
    if (item.ItemType == PDU_IT_RESULT) {
        const PDU_RESULT_DATA* result = static_cast<const PDU_RESULT_DATA*>(item.pData);
        if (result->NumDataBytes == 0 || !result->pDataBytes) return;
        copy->detail = true;
        copy->dataLength = result->NumDataBytes;
        std::memcpy(data, result->pDataBytes, std::min<size_t>(result->NumDataBytes, capacity));
    } else if (item.ItemType == PDU_IT_STATUS) {
        copy->detail = true;
        copy->status = *static_cast<const T_PDU_STATUS*>(item.pData);
    } else if (item.ItemType == PDU_IT_ERROR) {
        const PDU_ERROR_DATA* e = static_cast<const PDU_ERROR_DATA*>(item.pData);
        copy->detail = true;
        copy->errorCode = e->ErrorCodeId;
        copy->extraError = e->ExtraErrorInfoId;
    }
}

void RunEventTake(void* p) {
    EventTake* t = static_cast<EventTake*>(p);
    PDU_EVENT_ITEM* item = nullptr;
    t->code = t->get(t->hMod, t->hCLL, &item);
    if (!item) return;
    if (t->code == PDU_STATUS_NOERROR) CopyEventItem(*item, t->copy, t->data, t->capacity);
    t->call = kDestroyItem;
    if (t->destroy) t->destroy(reinterpret_cast<PDU_ITEM*>(item));
}

}  // namespace

uint32_t CallPDUGetEventItemCopy(uint32_t hMod, uint32_t hCLL, EventItemCopy* copy, uint8_t* data,
                                 size_t capacity) {
    *copy = EventItemCopy{};
    std::shared_lock<std::shared_mutex> use(g_backend.libraryUse);
    if (!Usable(reinterpret_cast<const void*>(g_backend.api.PDUGetEventItem))) return PDU_ERR_FCT_FAILED;
    EventTake take{g_backend.api.PDUGetEventItem, g_backend.api.PDUDestroyItem, hMod, hCLL, copy, data, capacity,
                   kGetEventItem, PDU_ERR_FCT_FAILED};
    uint32_t exceptionCode = 0;
    if (platform::RunGuardedQuick(&RunEventTake, &take, &exceptionCode)) return take.code;
    LogPrintf("%s exception=0x%X", take.call, exceptionCode);
    if (take.call == kDestroyItem) return take.code;  // what the item said was taken before
    *copy = EventItemCopy{};
    return PDU_ERR_INVALID_PARAMETERS;
}
uint32_t CallPDUGetModuleIds(PDU_MODULE_ITEM** list) { VENDOR_CALL(PDUGetModuleIds, kOccasional, list, list); }
uint32_t CallPDUGetResourceIds(uint32_t hMod, PDU_RSC_DATA* template_, PDU_RSC_ID_ITEM** list) {
    VENDOR_CALL(PDUGetResourceIds, kOccasional, list, hMod, template_, list);
}

uint32_t GuardedGetObjectId(uint32_t objectType, const char* name, uint32_t* id, uint32_t* exceptionCode) {
    if (exceptionCode) *exceptionCode = 0;
    ObjectIdCall call{nullptr, objectType, const_cast<CHAR8*>(name), id, PDU_ERR_FCT_FAILED};
    uint32_t code = 0;
    {
        std::shared_lock<std::shared_mutex> use(g_backend.libraryUse);
        if (!Usable(reinterpret_cast<const void*>(g_backend.api.PDUGetObjectId))) return PDU_ERR_FCT_FAILED;
        call.fn = g_backend.api.PDUGetObjectId;
        if (platform::RunGuarded(&RunObjectIdCall, &call, &code)) return call.result;
    }
    if (exceptionCode) *exceptionCode = code;
    LogPrintf("PDUGetObjectId exception=0x%X objType=%u name=%s", code, objectType, name ? name : "");
    return PDU_ERR_INVALID_PARAMETERS;
}

uint32_t GuardedIoCtl(uint32_t hMod, uint32_t commandId, PDU_DATA_ITEM* input, PDU_DATA_ITEM** output) {
    if (!Usable(reinterpret_cast<const void*>(g_backend.api.PDUIoCtl))) return PDU_ERR_FCT_FAILED;
    if (commandId == kIgnitionSenseCmd && !output) return PDU_STATUS_NOERROR;
    if (commandId == kSynthesisedZeroCmd) {
        if (!output) return PDU_ERR_INVALID_PARAMETERS;
        *output = NewOwnedUnum32Item(0);
        return PDU_STATUS_NOERROR;
    }
    IoCtlCall call{nullptr, hMod, commandId, input, output, PDU_ERR_FCT_FAILED};
    uint32_t exceptionCode = 0;
    bool crashed;
    {
        std::shared_lock<std::shared_mutex> use(g_backend.libraryUse);
        if (!Usable(reinterpret_cast<const void*>(g_backend.api.PDUIoCtl))) return PDU_ERR_FCT_FAILED;
        call.fn = g_backend.api.PDUIoCtl;
        crashed = !platform::RunGuarded(&RunIoCtlCall, &call, &exceptionCode);
    }
    const uint32_t result = crashed ? PDU_ERR_INVALID_PARAMETERS : call.result;
    if (crashed) {
        LogPrintf("PDUIoCtl exception=0x%X hMod=%u hCLL=%u cmdId=%u pInput=%s", exceptionCode, hMod,
                  PDU_HANDLE_UNDEF, commandId, Pointer(input).c_str());
        if (output) *output = nullptr;  // whatever the crashed call left there is not an item
    }
    if (commandId != kIgnitionSenseCmd || !output) return result;
    // The driver's own ignition state stands in for a VCI that cannot answer, and replaces the
    // answer while the override is on.
    if (result == PDU_ERR_ID_NOT_SUPPORTED || result == PDU_ERR_FCT_FAILED || result == PDU_ERR_INVALID_PARAMETERS) {
        if (*output) ReleaseItem(*output);
        if (g_config.Ignition.EnableOverride) RefreshIgnitionFromIni();
        *output = NewOwnedUnum32Item(IgnitionState() != 0 ? 1u : 0u);
        return PDU_STATUS_NOERROR;
    }
    if (result == PDU_STATUS_NOERROR && g_config.Ignition.EnableOverride && *output && (*output)->pData) {
        RefreshIgnitionFromIni();
        const bool on = IgnitionState() != 0;
        if ((*output)->ItemType == PDU_IT_IO_UNUM32)
            *static_cast<uint32_t*>((*output)->pData) = on ? 1u : 0u;
        else
            *static_cast<uint8_t*>((*output)->pData) = on ? 1u : 0u;
    }
    return result;
}

namespace {

uint32_t CreateCll(uint32_t hMod, PDU_RSC_DATA* resourceData, uint32_t resourceId, uint32_t* hCLL,
                   const uint8_t* flagData, uint32_t flagLength, bool allowOrderProbe) {
    if (!Usable(reinterpret_cast<const void*>(g_backend.api.PDUCreateComLogicalLink))) return PDU_ERR_FCT_FAILED;
    const uint32_t tid = platform::CurrentThreadId();
    const bool closing = g_backend.api.closing.load();
    LogPrintf("CreateCLL: call tid=%u closing=%d rid=%u pRsc=%s pFlag=%s", tid, closing ? 1 : 0, resourceId,
              Pointer(resourceData).c_str(), Pointer(flagData).c_str());
    if (closing) {
        LogPrintf("CreateCLL: blocked (closing=1) tid=%u rid=%u pRsc=%s", tid, resourceId,
                  Pointer(resourceData).c_str());
        return PDU_ERR_FCT_FAILED;
    }
    if (resourceId == 0 && !resourceData) {
        LogPrintf("CreateCLL: invalid params (rid=0,pRsc=null) tid=%u", tid);
        return PDU_ERR_INVALID_PARAMETERS;
    }
    uint8_t flagBytes[4] = {0, 0, 0, 0};
    if (flagData) std::memcpy(flagBytes, flagData, flagLength < 4 ? flagLength : 4);
    PDU_FLAG_DATA flags{4, flagBytes};
    CreateCall call{nullptr, hMod, resourceData, resourceId, hCLL, &flags, 1, PDU_ERR_FCT_FAILED};
    bool crashed = false;

    const uint32_t known = g_backend.api.createOrder.load();
    if (known >= 1 && known <= 4 && hCLL) {
        uint32_t result = CreateInOrder(call, known, &crashed);
        if (result == PDU_STATUS_NOERROR) return result;
        if (!crashed || !allowOrderProbe) return result;
        g_backend.api.createOrder = 0;
    }
    uint32_t first = CreateInOrder(call, 1, &crashed);
    if (first == PDU_STATUS_NOERROR) {
        g_backend.api.createOrder = 1;
        return first;
    }
    if (!(g_config.Backend == BackendType::TVN && allowOrderProbe && crashed && hCLL)) return first;
    for (uint32_t order = 2; order <= 4; ++order) {
        if (!OrderFitsThisTarget(order)) continue;
        if (CreateInOrder(call, order, &crashed) == PDU_STATUS_NOERROR) {
            g_backend.api.createOrder = order;
            return PDU_STATUS_NOERROR;
        }
    }
    return first;
}

}  // namespace

uint32_t GuardedCreateCll(uint32_t hMod, PDU_RSC_DATA* resourceData, uint32_t resourceId, uint32_t* hCLL,
                          const uint8_t* flagData, uint32_t flagLength, bool allowOrderProbe) {
    const uint32_t code = CreateCll(hMod, resourceData, resourceId, hCLL, flagData, flagLength, allowOrderProbe);
    if (code == PDU_STATUS_NOERROR && hCLL) NoteLink(hMod, *hCLL, true);
    return code;
}

PDU_DATA_ITEM* NewOwnedUnum32Item(uint32_t value) {
    PDU_DATA_ITEM* item = new PDU_DATA_ITEM;
    item->ItemType = PDU_IT_IO_UNUM32;
    item->pData = new uint32_t(value);
    std::lock_guard<std::mutex> lock(g_backend.ownedLock);
    g_backend.ownedItems.insert(item);
    g_backend.ownedCount = g_backend.ownedItems.size();
    return item;
}

bool IsOwnedItem(const void* item) {
    std::lock_guard<std::mutex> lock(g_backend.ownedLock);
    return g_backend.ownedItems.count(item) != 0;
}

uint32_t ReleaseItem(void* item) {
    if (!item) return PDU_STATUS_NOERROR;
    bool owned = false;
    if (g_backend.ownedCount.load() != 0) {
        std::lock_guard<std::mutex> lock(g_backend.ownedLock);
        owned = g_backend.ownedItems.erase(item) != 0;
        g_backend.ownedCount = g_backend.ownedItems.size();
    }
    if (owned) {
        PDU_DATA_ITEM* data = static_cast<PDU_DATA_ITEM*>(item);
        delete static_cast<uint32_t*>(data->pData);
        delete data;
        return PDU_STATUS_NOERROR;
    }
    VENDOR_CALL(PDUDestroyItem, kEveryMessage, kNoOutput, static_cast<PDU_ITEM*>(item));
}

#undef VENDOR_CALL
