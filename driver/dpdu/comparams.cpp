// ComParams by short name and the ISO 15765 identifier setup.
#include <mutex>
#include <string>
#include <unordered_set>

#include "driver/config/driver_config.h"
#include "driver/log/log.h"
#include "driver/dpdu/api_table.h"
#include "driver/dpdu/backend_state.h"
#include "driver/dpdu/dpdu_backend.h"

namespace {


bool IsRejected(uint32_t id) {
    std::lock_guard<std::mutex> lock(g_backend.learnt.rejectedLock);
    return g_backend.learnt.rejectedComParams.count(id) != 0;
}

void NoteReadResult(uint32_t id, uint32_t code) {
    if (code != PDU_ERR_INVALID_PARAMETERS && code != PDU_ERR_COMPARAM_NOT_SUPPORTED) return;
    std::lock_guard<std::mutex> lock(g_backend.learnt.rejectedLock);
    g_backend.learnt.rejectedComParams.insert(id);
}

// Object id lookup and read of the current parameter item; *item is the caller's to release.
// Narrow parameters are read and written at their own width: 32 bits there would run past
// the vendor's buffer.
uint32_t LoadValue(const PDU_PARAM_ITEM* item) {
    switch (item->ComParamDataType) {
        case PDU_PT_UNUM8: return *static_cast<const uint8_t*>(item->pComParamData);
        case PDU_PT_SNUM8: return static_cast<uint32_t>(*static_cast<const int8_t*>(item->pComParamData));
        case PDU_PT_UNUM16: return *static_cast<const uint16_t*>(item->pComParamData);
        case PDU_PT_SNUM16: return static_cast<uint32_t>(*static_cast<const int16_t*>(item->pComParamData));
        default: return *static_cast<const uint32_t*>(item->pComParamData);
    }
}

void StoreValue(PDU_PARAM_ITEM* item, uint32_t value) {
    switch (item->ComParamDataType) {
        case PDU_PT_UNUM8:
        case PDU_PT_SNUM8: *static_cast<uint8_t*>(item->pComParamData) = static_cast<uint8_t>(value); break;
        case PDU_PT_UNUM16:
        case PDU_PT_SNUM16: *static_cast<uint16_t*>(item->pComParamData) = static_cast<uint16_t>(value); break;
        default: *static_cast<uint32_t*>(item->pComParamData) = value; break;
    }
}

uint32_t ReadComParam(uint32_t hMod, uint32_t hCLL, const char* name, PDU_PARAM_ITEM** item) {
    *item = nullptr;
    uint32_t id = PDU_ID_UNDEF;
    uint32_t exceptionCode = 0;
    uint32_t code = GuardedGetObjectId(PDU_OBJT_COMPARAM, name, &id, &exceptionCode);
    if (code != PDU_STATUS_NOERROR) return code;
    if (id == PDU_HANDLE_UNDEF || id == PDU_ID_UNDEF) return PDU_ERR_COMPARAM_NOT_SUPPORTED;
    if (IsRejected(id)) return PDU_ERR_COMPARAM_NOT_SUPPORTED;
    code = CallPDUGetComParam(hMod, hCLL, id, item);
    if (code != PDU_STATUS_NOERROR) {
        NoteReadResult(id, code);
        ReleaseItem(*item);
        *item = nullptr;
        return code;
    }
    if (!*item || !(*item)->pComParamData) {
        ReleaseItem(*item);
        *item = nullptr;
        return PDU_ERR_FCT_FAILED;
    }
    return code;
}

uint32_t FormatOf(uint32_t canId) { return canId > 0x7FF ? 1u : 0u; }
const char* Ok(bool ok, const char* yes, const char* no) { return ok ? yes : no; }

uint32_t SetLogged(uint32_t hMod, uint32_t hCLL, const char* name, uint32_t value) {
    uint32_t code = SetComParamByName(hMod, hCLL, name, value);
    LogPrintf("Dpdu_SetIso15765Ids: %s -> %s", name, PduCodeText(code).c_str());
    return code;
}

bool ScanNames(uint32_t hMod, uint32_t hCLL, const char* const* names, size_t count, uint32_t value) {
    for (size_t i = 0; i < count; ++i)
        if (SetLogged(hMod, hCLL, names[i], value) == PDU_STATUS_NOERROR) return true;
    return false;
}

// The MDF names of the Orvex VCI; true when both identifiers were accepted.
bool SetOrvexIds(uint32_t hMod, uint32_t hCLL, uint32_t tx, uint32_t rx) {
    LogPrintf("Dpdu_SetIso15765Ids: ORVEX3 set IDs tx=0x%X rx=0x%X fmtTx=%u fmtRx=%u", tx, rx, FormatOf(tx),
              FormatOf(rx));
    PDU_PARAM_ITEM* item = nullptr;
    uint32_t code = ReadComParam(hMod, hCLL, "CP_RequestAddrMode", &item);
    if (code == PDU_STATUS_NOERROR) {
        LogPrintf("Dpdu_SetIso15765Ids: CP_RequestAddrMode=%u (keeping backend default)", LoadValue(item));
        ReleaseItem(item);
    } else {
        LogPrintf("Dpdu_SetIso15765Ids: CP_RequestAddrMode read failed: %s", PduCodeText(code).c_str());
    }
    SetLogged(hMod, hCLL, "CP_CanPhysReqFormat", FormatOf(tx));
    SetLogged(hMod, hCLL, "CP_CanRespUSDTFormat", FormatOf(rx));
    const bool txOk = SetLogged(hMod, hCLL, "CP_CanPhysReqId", tx) == PDU_STATUS_NOERROR;
    const bool rxOk = SetLogged(hMod, hCLL, "CP_CanRespUSDTId", rx) == PDU_STATUS_NOERROR;
    LogPrintf("Dpdu_SetIso15765Ids: MIVRA_ORVEX3 CP_CanPhysReqId/CP_CanRespUSDTId result=%s,%s",
              Ok(txOk, "TX_OK", "TX_FAIL"), Ok(rxOk, "RX_OK", "RX_FAIL"));
    return txOk && rxOk;
}

}  // namespace

uint32_t SetComParamByName(uint32_t hMod, uint32_t hCLL, const char* name, uint32_t value) {
    PDU_PARAM_ITEM* item = nullptr;
    uint32_t code = ReadComParam(hMod, hCLL, name, &item);
    if (code != PDU_STATUS_NOERROR) return code;
    StoreValue(item, value);
    code = CallPDUSetComParam(hMod, hCLL, item);
    ReleaseItem(item);
    return code;
}

bool Dpdu_SetIso15765Ids(uint32_t linkId, uint32_t txId, uint32_t rxId) {
    DpduLink link;
    if (!LookupLink(linkId, &link)) return false;
    const BackendType type = CurrentBackendType();
    if (type == BackendType::TRX4820) {
        WriteLogLine("Dpdu_SetIso15765Ids: VW/ODIS skip ComParams (unsupported)");
        return false;
    }
    if (type == BackendType::Orvex) {
        if (SetOrvexIds(link.hMod, link.hCLL, txId, rxId)) return true;
        WriteLogLine("Dpdu_SetIso15765Ids: ORVEX3 MDF names unsupported; falling back to generic ComParam scan");
    }
    SetLogged(link.hMod, link.hCLL, "CP_CanPhysReqFormat", FormatOf(txId));
    SetLogged(link.hMod, link.hCLL, "CP_CANPHYSREQFORMAT", FormatOf(txId));
    SetLogged(link.hMod, link.hCLL, "CP_CanRespUSDTFormat", FormatOf(rxId));
    SetLogged(link.hMod, link.hCLL, "CP_CANRESPUSDTFORMAT", FormatOf(rxId));
    static const char* const kTxNames[] = {
        "CP_ISO15765TxID", "CP_ISO15765TxId", "CP_ISO15765_TxID", "CP_ISO15765_TxId", "CP_TxID",
        "CP_TxId",         "CP_CAN_TX_ID",    "CP_CanTxId",       "CP_CANTxId",       "CP_CanPhysReqId",
        "CP_CANPHYSREQID", "CP_CanPhysReqID", "CP_CanPhysReqID",  "CP_CANPHYSREQID"};
    static const char* const kRxNames[] = {
        "CP_ISO15765RxID",  "CP_ISO15765RxId",  "CP_ISO15765_RxID", "CP_ISO15765_RxId", "CP_RxID",
        "CP_RxId",          "CP_CAN_RX_ID",     "CP_CanRxId",       "CP_CANRxId",       "CP_CanRespUSDTId",
        "CP_CANRESPUSDTID", "CP_CanRespUSDTID", "CP_CanRespUSDTID", "CP_CANRESPUSDTID"};
    const bool txOk = ScanNames(link.hMod, link.hCLL, kTxNames, sizeof kTxNames / sizeof kTxNames[0], txId);
    const bool rxOk = ScanNames(link.hMod, link.hCLL, kRxNames, sizeof kRxNames / sizeof kRxNames[0], rxId);
    LogPrintf("Dpdu_SetIso15765Ids: tx=0x%X rx=0x%X result=%s,%s", txId, rxId, Ok(txOk, "TX_OK", "TX_FAIL"),
              Ok(rxOk, "RX_OK", "RX_FAIL"));
    if (!txOk || !rxOk) return false;
    std::lock_guard<std::mutex> lock(g_backend.tableLock);
    auto it = g_backend.links.find(linkId);
    if (it == g_backend.links.end()) return false;
    it->second.payloadOnly = true;
    LinksChangedLocked();
    return true;
}
