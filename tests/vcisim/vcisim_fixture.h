// A copy of the built VciSim in a scenario folder (with its VciSim.ini), loaded through the OS
// loader, with the 29 D-PDU functions bound by name.
#pragma once

#include <string>
#include <vector>

#include "dpdu_api/pdu_api.h"

struct VciSimLib {
    std::string dir;
    void* handle = nullptr;
    PDUConstructFn Construct = nullptr;
    PDUDestructFn Destruct = nullptr;
    PDUIoCtlFn IoCtl = nullptr;
    PDUGetVersionFn GetVersion = nullptr;
    PDUGetStatusFn GetStatus = nullptr;
    PDUGetLastErrorFn GetLastError = nullptr;
    PDUGetResourceStatusFn GetResourceStatus = nullptr;
    PDUCreateComLogicalLinkFn CreateComLogicalLink = nullptr;
    PDUDestroyComLogicalLinkFn DestroyComLogicalLink = nullptr;
    PDUConnectFn Connect = nullptr;
    PDUDisconnectFn Disconnect = nullptr;
    PDULockResourceFn LockResource = nullptr;
    PDUUnlockResourceFn UnlockResource = nullptr;
    PDUGetComParamFn GetComParam = nullptr;
    PDUSetComParamFn SetComParam = nullptr;
    PDUStartComPrimitiveFn StartComPrimitive = nullptr;
    PDUCancelComPrimitiveFn CancelComPrimitive = nullptr;
    PDUGetEventItemFn GetEventItem = nullptr;
    PDUDestroyItemFn DestroyItem = nullptr;
    PDURegisterEventCallbackFn RegisterEventCallback = nullptr;
    PDUGetObjectIdFn GetObjectId = nullptr;
    PDUGetModuleIdsFn GetModuleIds = nullptr;
    PDUGetResourceIdsFn GetResourceIds = nullptr;
    PDUGetConflictingResourcesFn GetConflictingResources = nullptr;
    PDUGetUniqueRespIdTableFn GetUniqueRespIdTable = nullptr;
    PDUSetUniqueRespIdTableFn SetUniqueRespIdTable = nullptr;
    PDUModuleConnectFn ModuleConnect = nullptr;
    PDUModuleDisconnectFn ModuleDisconnect = nullptr;
    PDUGetTimestampFn GetTimestamp = nullptr;

    // Copies bin/<baseName><suffix> to a fresh folder as VciSim<suffix>, writes VciSim.ini
    // (when iniText is not null; "Trace=trace.txt" is always added) and loads it.
    bool Load(const std::string& scenario, const char* iniText, const std::string& baseName = "VciSim");
    void Unload();
    std::string TracePath() const;
    std::string TraceText() const;
    std::vector<std::string> TraceLines(const std::string& prefix) const;

    // Conveniences on top of the API (fail the test on errors).
    UNUM32 ObjectId(T_PDU_OBJT type, const char* name);
    // Constructs, connects the module whose name contains `moduleName`, returns its handle.
    UNUM32 OpenModule(const char* moduleName = "ORVEX3");
    UNUM32 OpenLink(UNUM32 hMod, UNUM32 resourceId);
    T_PDU_ERROR SetParam(UNUM32 hMod, UNUM32 hCLL, const char* name, UNUM32 value);
    T_PDU_ERROR GetParam(UNUM32 hMod, UNUM32 hCLL, const char* name, UNUM32* value);
    T_PDU_ERROR Send(UNUM32 hMod, UNUM32 hCLL, const std::vector<uint8_t>& data, UNUM32 timeMs = 1000,
                     SNUM32 recvCycles = 1);
    // Waits up to timeoutMs for the next event item; returns its type (0 = none) and copies
    // result bytes / error codes. The item is destroyed.
    UNUM32 NextEvent(UNUM32 hMod, UNUM32 hCLL, unsigned timeoutMs, std::vector<uint8_t>* data,
                     UNUM32* err = nullptr, UNUM32* extra = nullptr, UNUM32* timestamp = nullptr);
};

std::vector<uint8_t> HexToBytes(const char* hex);
std::string BytesToHex(const std::vector<uint8_t>& b);
