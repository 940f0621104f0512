// Exported D-PDU API: ComPrimitives and what they produce (event items, status, last error).

#include <algorithm>
#include <string>
#include <type_traits>

#include "vcisim/bus.h"
#include "vcisim/calls.h"
#include "vcisim/sim_state.h"
#include "vcisim/traffic.h"
#include "vcisim/traffic_counts.h"

using namespace vcisim;

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
    else if (sendRecv && !pCopCtrlData) code = PDU_ERR_INVALID_PARAMETERS;
    // Send once, or only receive (no send cycle, data not needed).
    else if (sendRecv && pCopCtrlData->NumSendCycles == 1 && !CoPDataSize) code = PDU_ERR_INVALID_PARAMETERS;
    else if (sendRecv && pCopCtrlData->NumSendCycles != 1 &&
             (pCopCtrlData->NumSendCycles != 0 || pCopCtrlData->NumReceiveCycles == 0))
        code = PDU_ERR_VALUE_NOT_SUPPORTED;
    else if (pCopCtrlData && pCopCtrlData->NumPossibleExpectedResponses && !pCopCtrlData->pExpectedResponseArray)
        code = PDU_ERR_INVALID_PARAMETERS;
    std::string outs;
    if (code == 0) {
        uint32_t hCoP = s.nextCoP++;
        l->lastCoP = hCoP;
        CopState& cop = l->cops[hCoP];
        cop.lastDueUs = NowUs();
        cop.tag = pCoPTag;
        cop.receiving = sendRecv && pCopCtrlData->NumReceiveCycles != 0;
        cop.endless = sendRecv && pCopCtrlData->NumReceiveCycles < 0;
        uint32_t timeMs = pCopCtrlData ? pCopCtrlData->Time : 0;
        if (sendRecv && pCopCtrlData->NumSendCycles == 1) {
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
            if (l->cops[hCoP].receiving) StartTraffic(s, *l, hCoP);
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
        CancelTraffic(s, *l, hCoP);
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
    if (l) CatchUp(s, *l);
    if (l && (l->events.empty() || l->events.front().dueUs > NowUs())) code = PDU_ERR_EVENT_QUEUE_EMPTY;
    if (code != 0) {
        if (code != PDU_ERR_EVENT_QUEUE_EMPTY || s.sc.traceEmptyPolls) TraceCall(fGetEventItem, args, code, "");
        return code;
    }
    Event e = std::move(l->events.front());
    l->events.pop_front();
    if (e.generated) {
        ++l->counts.delivered;
        ++s.totals.delivered;
    }
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
    std::string args = "item=?";
    if (Intercepted(fDestroyItem, args, &code)) return code;
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
            if (c.cancelled) st = PDU_COPST_CANCELLED;
            else if (c.endless || c.lastDueUs > NowUs()) st = PDU_COPST_EXECUTING;  // endless: until cancelled
            else st = PDU_COPST_FINISHED;
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

VCISIM_API VciSimGetTrafficCounts(UNUM32 hCLL, uint64_t* generated, uint64_t* delivered, uint64_t* dropped) {
    static_assert(std::is_same<decltype(&VciSimGetTrafficCounts), VciSimGetTrafficCountsFn>::value,
                  "the export and its declaration for clients agree");
    Sim& s = S();
    if (!generated || !delivered || !dropped) return PDU_ERR_INVALID_PARAMETERS;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    const TrafficCounts* c = &s.totals;
    if (hCLL == PDU_HANDLE_UNDEF) {
        for (auto& kv : s.links) CatchUp(s, kv.second);
    } else {
        auto it = s.links.find(hCLL);
        if (it == s.links.end()) return PDU_ERR_INVALID_HANDLE;
        CatchUp(s, it->second);
        c = &it->second.counts;
    }
    *generated = c->generated;
    *delivered = c->delivered;
    *dropped = c->dropped;
    return PDU_STATUS_NOERROR;
}
