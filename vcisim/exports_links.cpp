// Exported D-PDU API: ComLogicalLinks, their ComParams and response id tables.

#include <algorithm>
#include <string>

#include "vcisim/calls.h"
#include "vcisim/sim_state.h"
#include "vcisim/traffic.h"

namespace vcisim {
namespace {

const char* KindName(const ResourceDef& r) {
    switch (r.kind) {
    case LinkKind::Iso15765: return r.kwp ? "kwponcan" : (r.fd ? "iso15765fd" : "iso15765");
    case LinkKind::RawCan: return r.fd ? "canfd" : "rawcan";
    case LinkKind::KLine: return "kline";
    case LinkKind::DoIp: return "doip";
    }
    return "?";
}

std::string FlagText(const PDU_FLAG_DATA* f) {
    if (!f) return "null";
    if (!f->pFlagData) return f->NumFlagBytes ? "invalid" : "[]";
    return HexBytes(f->pFlagData, std::min<UNUM32>(f->NumFlagBytes, 16));
}

}  // namespace
}  // namespace vcisim

using namespace vcisim;

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
        l.fd = l.rsc.fd && l.params[kCpFdTxMaxLen] > 8;
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
    Link* l = FindModule(s, hMod) ? FindLink(s, hMod, hCLL) : nullptr;
    if (!l) code = PDU_ERR_INVALID_HANDLE;
    else {
        EndTraffic(s, *l);
        s.links.erase(hCLL);
    }
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
            EndTraffic(s, *l);
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
    else if (d->slot == kCpFdBaudrate && value > kMaxFdDataBaud) code = PDU_ERR_VALUE_NOT_SUPPORTED;
    else if (d->slot == kCpRequestAddrMode && value != 1 && value != 2) code = PDU_ERR_VALUE_NOT_SUPPORTED;
    else {
        l->params[d->slot] = value;
        if (d->slot == kCpFdBaudrate || d->slot == kCpFdTxMaxLen) l->fd = true;
    }
    TraceCall(fSetComParam, args, code, "");
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
