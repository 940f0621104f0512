#include "tests/vcisim/vcisim_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {
template <typename Fn>
void Bind(void* lib, const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(platform::GetLibrarySymbol(lib, name));
}
}  // namespace

std::vector<uint8_t> HexToBytes(const char* hex) {
    std::vector<uint8_t> b;
    std::string h;
    for (const char* p = hex; *p; ++p)
        if (isxdigit(static_cast<unsigned char>(*p))) h += *p;
    for (size_t i = 0; i + 1 < h.size(); i += 2) b.push_back(uint8_t(std::stoul(h.substr(i, 2), nullptr, 16)));
    return b;
}

std::string BytesToHex(const std::vector<uint8_t>& b) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    return s;
}

bool VciSimLib::Load(const std::string& scenario, const char* iniText, const std::string& baseName) {
    platform::SetEnv("VCISIM_CONFIG", nullptr);
    platform::SetEnv("VCISIM_TRACE", nullptr);
    dir = MakeScenarioDir(scenario);
    std::string suffix = platform::SharedLibrarySuffix();
    std::string target = JoinPath(dir, "VciSim" + suffix);
    if (!CopyFileTo(JoinPath(TestBinDir(), baseName + suffix), target)) {
        ADD_FAILURE() << "cannot copy " << baseName << " to " << target;
        return false;
    }
    std::string ini = "[General]\nTrace=trace.txt\n";
    if (iniText) ini += iniText;
    platform::WriteWholeFile(JoinPath(dir, "VciSim.ini"), ini);
    handle = platform::LoadLibraryFile(target);
    if (!handle) {
        ADD_FAILURE() << "cannot load " << target;
        return false;
    }
    Bind(handle, "PDUConstruct", &Construct);
    Bind(handle, "PDUDestruct", &Destruct);
    Bind(handle, "PDUIoCtl", &IoCtl);
    Bind(handle, "PDUGetVersion", &GetVersion);
    Bind(handle, "PDUGetStatus", &GetStatus);
    Bind(handle, "PDUGetLastError", &GetLastError);
    Bind(handle, "PDUGetResourceStatus", &GetResourceStatus);
    Bind(handle, "PDUCreateComLogicalLink", &CreateComLogicalLink);
    Bind(handle, "PDUDestroyComLogicalLink", &DestroyComLogicalLink);
    Bind(handle, "PDUConnect", &Connect);
    Bind(handle, "PDUDisconnect", &Disconnect);
    Bind(handle, "PDULockResource", &LockResource);
    Bind(handle, "PDUUnlockResource", &UnlockResource);
    Bind(handle, "PDUGetComParam", &GetComParam);
    Bind(handle, "PDUSetComParam", &SetComParam);
    Bind(handle, "PDUStartComPrimitive", &StartComPrimitive);
    Bind(handle, "PDUCancelComPrimitive", &CancelComPrimitive);
    Bind(handle, "PDUGetEventItem", &GetEventItem);
    Bind(handle, "PDUDestroyItem", &DestroyItem);
    Bind(handle, "PDURegisterEventCallback", &RegisterEventCallback);
    Bind(handle, "PDUGetObjectId", &GetObjectId);
    Bind(handle, "PDUGetModuleIds", &GetModuleIds);
    Bind(handle, "PDUGetResourceIds", &GetResourceIds);
    Bind(handle, "PDUGetConflictingResources", &GetConflictingResources);
    Bind(handle, "PDUGetUniqueRespIdTable", &GetUniqueRespIdTable);
    Bind(handle, "PDUSetUniqueRespIdTable", &SetUniqueRespIdTable);
    Bind(handle, "PDUModuleConnect", &ModuleConnect);
    Bind(handle, "PDUModuleDisconnect", &ModuleDisconnect);
    Bind(handle, "PDUGetTimestamp", &GetTimestamp);
    bool all = Construct && IoCtl && GetVersion && GetStatus && GetLastError && GetResourceStatus &&
               CreateComLogicalLink && DestroyComLogicalLink && Connect && Disconnect && LockResource &&
               UnlockResource && GetComParam && SetComParam && StartComPrimitive && CancelComPrimitive &&
               GetEventItem && DestroyItem && RegisterEventCallback && GetObjectId && GetModuleIds &&
               GetResourceIds && GetConflictingResources && GetUniqueRespIdTable && SetUniqueRespIdTable &&
               ModuleConnect && ModuleDisconnect && GetTimestamp;
    if (!all) {
        ADD_FAILURE() << "an export is missing from " << target;
        return false;
    }
    return true;
}

void VciSimLib::Unload() {
    if (handle) platform::FreeLibraryFile(handle);
    handle = nullptr;
}

std::string VciSimLib::TracePath() const { return JoinPath(dir, "trace.txt"); }
std::string VciSimLib::TraceText() const { return ReadFileText(TracePath()); }

std::vector<std::string> VciSimLib::TraceLines(const std::string& prefix) const {
    std::vector<std::string> out;
    std::string t = TraceText();
    size_t p = 0;
    while (p < t.size()) {
        size_t nl = t.find('\n', p);
        std::string line = t.substr(p, nl == std::string::npos ? std::string::npos : nl - p);
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
        if (nl == std::string::npos) break;
        p = nl + 1;
    }
    return out;
}

UNUM32 VciSimLib::ObjectId(T_PDU_OBJT type, const char* name) {
    UNUM32 id = 0;
    EXPECT_EQ(0u, GetObjectId(type, const_cast<CHAR8*>(name), &id)) << name;
    return id;
}

UNUM32 VciSimLib::OpenModule(const char* moduleName) {
    EXPECT_EQ(0u, Construct(nullptr, nullptr));
    PDU_MODULE_ITEM* list = nullptr;
    EXPECT_EQ(0u, GetModuleIds(&list));
    UNUM32 hMod = PDU_HANDLE_UNDEF;
    if (!list) return hMod;
    for (UNUM32 i = 0; i < list->NumEntries; ++i)
        if (std::string(list->pModuleData[i].pVendorModuleName).find(moduleName) != std::string::npos)
            hMod = list->pModuleData[i].hMod;
    EXPECT_EQ(0u, DestroyItem(reinterpret_cast<PDU_ITEM*>(list)));
    EXPECT_EQ(0u, ModuleConnect(hMod));
    return hMod;
}

UNUM32 VciSimLib::OpenLink(UNUM32 hMod, UNUM32 resourceId) {
    UNUM32 hCLL = PDU_HANDLE_UNDEF;
    UNUM8 flags[4] = {0, 0, 0, 0};
    PDU_FLAG_DATA fd{4, flags};
    EXPECT_EQ(0u, CreateComLogicalLink(hMod, nullptr, resourceId, nullptr, &hCLL, &fd));
    EXPECT_EQ(0u, Connect(hMod, hCLL));
    return hCLL;
}

T_PDU_ERROR VciSimLib::SetParam(UNUM32 hMod, UNUM32 hCLL, const char* name, UNUM32 value) {
    UNUM32 id = ObjectId(PDU_OBJT_COMPARAM, name);
    PDU_PARAM_ITEM* item = nullptr;
    T_PDU_ERROR e = GetComParam(hMod, hCLL, id, &item);
    if (e != 0) return e;
    *static_cast<UNUM32*>(item->pComParamData) = value;
    e = SetComParam(hMod, hCLL, item);
    EXPECT_EQ(0u, DestroyItem(reinterpret_cast<PDU_ITEM*>(item)));
    return e;
}

T_PDU_ERROR VciSimLib::GetParam(UNUM32 hMod, UNUM32 hCLL, const char* name, UNUM32* value) {
    UNUM32 id = ObjectId(PDU_OBJT_COMPARAM, name);
    PDU_PARAM_ITEM* item = nullptr;
    T_PDU_ERROR e = GetComParam(hMod, hCLL, id, &item);
    if (e != 0) return e;
    EXPECT_EQ(PDU_IT_PARAM, item->ItemType);
    EXPECT_EQ(PDU_PT_UNUM32, item->ComParamDataType);
    *value = *static_cast<UNUM32*>(item->pComParamData);
    EXPECT_EQ(0u, DestroyItem(reinterpret_cast<PDU_ITEM*>(item)));
    return 0;
}

T_PDU_ERROR VciSimLib::Send(UNUM32 hMod, UNUM32 hCLL, const std::vector<uint8_t>& data, UNUM32 timeMs,
                            SNUM32 recvCycles) {
    static PDU_EXP_RESP_DATA expected{};
    PDU_COP_CTRL_DATA ctrl{};
    ctrl.Time = timeMs;
    ctrl.NumSendCycles = 1;
    ctrl.NumReceiveCycles = recvCycles;
    ctrl.NumPossibleExpectedResponses = 1;
    ctrl.pExpectedResponseArray = &expected;
    UNUM32 hCoP = 0;
    std::vector<uint8_t> copy = data;
    return StartComPrimitive(hMod, hCLL, PDU_COPT_SENDRECV, UNUM32(copy.size()), copy.data(), &ctrl, nullptr, &hCoP);
}

UNUM32 VciSimLib::NextEvent(UNUM32 hMod, UNUM32 hCLL, unsigned timeoutMs, std::vector<uint8_t>* data, UNUM32* err,
                            UNUM32* extra, UNUM32* timestamp) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    data->clear();
    for (;;) {
        PDU_EVENT_ITEM* ev = nullptr;
        T_PDU_ERROR e = GetEventItem(hMod, hCLL, &ev);
        if (e == 0 && ev) {
            UNUM32 type = ev->ItemType;
            if (timestamp) *timestamp = ev->Timestamp;
            if (type == PDU_IT_RESULT) {
                auto* r = static_cast<PDU_RESULT_DATA*>(ev->pData);
                data->assign(r->pDataBytes, r->pDataBytes + r->NumDataBytes);
            } else if (type == PDU_IT_ERROR) {
                auto* r = static_cast<PDU_ERROR_DATA*>(ev->pData);
                if (err) *err = r->ErrorCodeId;
                if (extra) *extra = r->ExtraErrorInfoId;
            }
            EXPECT_EQ(0u, DestroyItem(reinterpret_cast<PDU_ITEM*>(ev)));
            return type;
        }
        EXPECT_EQ(PDU_ERR_EVENT_QUEUE_EMPTY, e);
        if (e != PDU_ERR_EVENT_QUEUE_EMPTY || std::chrono::steady_clock::now() > end) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
