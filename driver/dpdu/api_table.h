// The vendor D-PDU library: loading, the table of bound entry points, the calls into it (each
// under the crash guard, so that a crash inside the vendor library never reaches the host), and
// ReleaseItem with the items the driver synthesises itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "dpdu_api/pdu_api.h"

struct DpduApiTable {
    void* library = nullptr;
    bool bound = false;
    std::string loadedPath;
    PDUConstructFn PDUConstruct = nullptr;
    PDUDestructFn PDUDestruct = nullptr;
    PDUModuleConnectFn PDUModuleConnect = nullptr;
    PDUModuleDisconnectFn PDUModuleDisconnect = nullptr;
    PDUIoCtlFn PDUIoCtl = nullptr;
    PDUCreateComLogicalLinkFn PDUCreateComLogicalLink = nullptr;
    PDUDestroyComLogicalLinkFn PDUDestroyComLogicalLink = nullptr;
    PDUConnectFn PDUConnect = nullptr;
    PDUDisconnectFn PDUDisconnect = nullptr;
    PDUGetComParamFn PDUGetComParam = nullptr;
    PDUSetComParamFn PDUSetComParam = nullptr;
    PDUStartComPrimitiveFn PDUStartComPrimitive = nullptr;
    PDUGetEventItemFn PDUGetEventItem = nullptr;
    PDUDestroyItemFn PDUDestroyItem = nullptr;
    PDUGetObjectIdFn PDUGetObjectId = nullptr;
    PDUGetModuleIdsFn PDUGetModuleIds = nullptr;
    PDUGetResourceIdsFn PDUGetResourceIds = nullptr;
    // Argument order of PDUCreateComLogicalLink that worked: 0 unknown, 1..4.
    std::atomic<uint32_t> createOrder{0};
    std::atomic<bool> closing{false};
};

// The four candidate paths for the configured DllName/DllPath, empty ones left out.
std::vector<std::string> VendorLibraryCandidates();
// Tries the candidates in order; *tried receives every path attempted.
bool LoadVendorLibrary(const std::vector<std::string>& candidates, std::vector<std::string>* tried);
void UnloadVendorLibrary();

// PDU_ERR_FCT_FAILED (1) when not bound or the entry point is missing; a crash inside the call
// gives PDU_ERR_INVALID_PARAMETERS (0x50), "<function> exception=0x<code>" in the log, and a null
// item where the call hands one out.
uint32_t CallPDUConstruct(const char* option);
uint32_t CallPDUDestruct();
uint32_t CallPDUModuleConnect(uint32_t hMod);
uint32_t CallPDUModuleDisconnect(uint32_t hMod);
uint32_t CallPDUDestroyComLogicalLink(uint32_t hMod, uint32_t hCLL);
uint32_t CallPDUConnect(uint32_t hMod, uint32_t hCLL);
uint32_t CallPDUDisconnect(uint32_t hMod, uint32_t hCLL);
uint32_t CallPDUGetComParam(uint32_t hMod, uint32_t hCLL, uint32_t paramId, PDU_PARAM_ITEM** item);
uint32_t CallPDUSetComParam(uint32_t hMod, uint32_t hCLL, PDU_PARAM_ITEM* item);
uint32_t CallPDUStartComPrimitive(uint32_t hMod, uint32_t hCLL, uint32_t type, uint32_t size, uint8_t* data,
                                  PDU_COP_CTRL_DATA* control, uint32_t* hCoP);
// What one event item said, copied out of it. The item went back to the library (PDUDestroyItem)
// within the same guarded call: one guard per poll, and a bad pointer in an item is a crash in
// PDUGetEventItem like any other.
struct EventItemCopy {
    T_PDU_IT type = 0;  // 0: no item was handed out
    uint32_t hCop = 0;
    bool detail = false;     // the item had its data (for a result: bytes), copied below
    T_PDU_STATUS status = 0; // PDU_IT_STATUS
    uint32_t errorCode = 0;  // PDU_IT_ERROR
    uint32_t extraError = 0;
    uint32_t dataLength = 0;  // PDU_IT_RESULT: NumDataBytes, of which at most the capacity were copied
};
// PDUGetEventItem of a link (or of the module, hCLL = PDU_HANDLE_UNDEF) with PDUDestroyItem after
// it; a result's bytes go to data. The code is PDUGetEventItem's; the copy is empty unless it is 0.
uint32_t CallPDUGetEventItemCopy(uint32_t hMod, uint32_t hCLL, EventItemCopy* copy, uint8_t* data,
                                 size_t capacity);
uint32_t CallPDUGetModuleIds(PDU_MODULE_ITEM** list);
uint32_t CallPDUGetResourceIds(uint32_t hMod, PDU_RSC_DATA* template_, PDU_RSC_ID_ITEM** list);

// Object-id lookup under the crash guard; a crash gives 0x50, *exceptionCode and a log line.
uint32_t GuardedGetObjectId(uint32_t objectType, const char* name, uint32_t* id, uint32_t* exceptionCode);
// Module-scope I/O control (hCLL = PDU_HANDLE_UNDEF) under the crash guard, with the
// ignition-sense (16) and synthesised (134) commands answered as the driver needs them.
uint32_t GuardedIoCtl(uint32_t hMod, uint32_t commandId, PDU_DATA_ITEM* input, PDU_DATA_ITEM** output);
// PDUCreateComLogicalLink under the crash guard with the remembered argument order.
uint32_t GuardedCreateCll(uint32_t hMod, PDU_RSC_DATA* resourceData, uint32_t resourceId, uint32_t* hCLL,
                          const uint8_t* flagData, uint32_t flagLength, bool allowOrderProbe);

// Hands an item back: driver-owned items are freed here, the rest go to PDUDestroyItem.
uint32_t ReleaseItem(void* item);
// A driver-owned PDU_IT_IO_UNUM32 item holding value.
PDU_DATA_ITEM* NewOwnedUnum32Item(uint32_t value);
bool IsOwnedItem(const void* item);

// D-PDU error code as written in texts: "0x" + lower-case hex.
std::string PduCodeText(uint32_t code);
