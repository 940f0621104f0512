// Logical links: resource-id probing, creation with its fallback ladder, the CAN FD and raw
// mode ComParams, connect, and close.
#include <atomic>
#include <string>

#include "common/protocols.h"
#include "driver/config/driver_config.h"
#include "driver/log/log.h"
#include "driver/dpdu/api_table.h"
#include "driver/dpdu/backend_state.h"
#include "driver/dpdu/doip_presteps.h"
#include "driver/dpdu/dpdu_backend.h"
#include "driver/dpdu/link_create.h"
#include "driver/dpdu/link_mapping.h"

namespace {

constexpr uint32_t kOrvexRawCan = 0x300C0003u;
constexpr uint32_t kOrvexAltRawCan = 0x300B0003u;

// Bus-type and pin-type ids of the resource-data templates, as the VCIs' MDFs number them.
constexpr uint32_t kBusCan = 1;
constexpr uint32_t kBusKLine9141 = 2;
constexpr uint32_t kBusKLine14230 = 4;
constexpr uint32_t kPinHi = 1;
constexpr uint32_t kPinLow = 2;
constexpr uint32_t kPinK = 3;

// CAN FD support per backend type: 0 unknown, 1 supported, 2 unsupported.

void BuildTemplate(const LinkKind& k, Template* t) {
    if (k.can) {
        t->pins[0] = {6, kPinHi};
        t->pins[1] = {14, kPinLow};
        t->data = {kBusCan, k.iso15765 ? 2u : (k.kwpOnCan ? 1u : 17u), 2, t->pins};
    } else {
        t->pins[0] = {7, kPinK};
        t->data = {k.kwpInName ? kBusKLine14230 : kBusKLine9141, k.kwpInName ? 0u : 105u, 1, t->pins};
    }
}

}  // namespace

uint32_t TryCreateLink(CreateContext* c, uint32_t resourceId, bool useRscData) {
    const bool withData = useRscData || resourceId == kRidUndef;
    uint32_t sendId = resourceId;
    if (withData && resourceId != kRidUndef && !g_config.DoIP.UseRscDataWithResourceId)
        sendId = CurrentBackendType() == BackendType::TRX4820 ? kRidUndef : 0;
    if (!withData && resourceId == 0) return PDU_ERR_INVALID_PARAMETERS;
    if (withData)
        LogPrintf("Dpdu_OpenLink: RID_UNDEF template: BusTypeId=%u, ProtocolId=%u, NumPinData=%u",
                  c->tmpl->data.BusTypeId, c->tmpl->data.ProtocolId, c->tmpl->data.NumPinData);
    return GuardedCreateCll(c->hMod, withData ? &c->tmpl->data : nullptr, sendId, &c->hCLL, c->flags, 4,
                            c->allowOrderProbe);
}

uint32_t DiscoverResourceId(uint32_t hMod, Template* t, bool* failed) {
    PDU_RSC_ID_ITEM* list = nullptr;
    uint32_t code = CallPDUGetResourceIds(hMod, &t->data, &list);
    uint32_t id = 0;
    if (code == PDU_STATUS_NOERROR && list && list->ItemType == PDU_IT_RSC_ID && list->NumModules >= 1 &&
        list->pResourceIdDataArray && list->pResourceIdDataArray[0].NumIds >= 1 &&
        list->pResourceIdDataArray[0].pResourceIdArray)
        id = list->pResourceIdDataArray[0].pResourceIdArray[0];
    ReleaseItem(list);
    if (id == 0)
        LogPrintf("Dpdu_OpenLink: PDUGetResourceIds failed or returned empty list, err=%s", PduCodeText(code).c_str());
    if (failed) *failed = code != PDU_STATUS_NOERROR;
    return id;
}

namespace {

uint32_t ProbeCandidate(const LinkKind& k) {
    switch (CurrentBackendType()) {
        case BackendType::TRX4820:
            if (!k.can) return k.kLine ? 0x30030215u : 0;
            if (k.ls) return k.kwpOnCan ? 0x30030026u : (k.iso15765 ? 0x30030025u : 0x30030027u);
            return k.kwpOnCan ? 0x30030002u : (k.iso15765 ? 0x30030001u : 0x30030003u);
        case BackendType::TVN:
            if (!k.can) return 0;
            return k.kwpOnCan ? 0x30012002u : (k.iso15765 ? 0x30012001u : 0x30012003u);
        default:
            if (!k.can) return k.kLine ? 0x300C0215u : 0;
            if (k.ls) return k.kwpOnCan ? 0x300B0026u : (k.iso15765 ? 0x300B0025u : 0x300B0027u);
            return k.kwpOnCan ? 0x300C0002u : (k.iso15765 ? 0x300C0001u : 0x300C0003u);
    }
}

// Creation with resource probing and the fallback ladder; *usedId is the id that worked.
uint32_t CreateWithFallbacks(CreateContext* c, const LinkKind& k, bool fdChannel, uint32_t mappedId,
                             uint32_t* usedId) {
    const auto& s = g_config.DpduSettings;
    uint32_t result = PDU_ERR_FCT_FAILED;
    if (s.ResourceIdProbe && (!fdChannel || s.CanFdAllowAltRawFallback)) {
        const uint32_t candidates[2] = {ProbeCandidate(k), mappedId};
        for (uint32_t id : candidates) {
            if (id == 0) continue;
            result = TryCreateLink(c, id, false);
            if (result == PDU_STATUS_NOERROR) {
                *usedId = id;
                return result;
            }
        }
    }
    result = TryCreateLink(c, mappedId, false);
    *usedId = mappedId;
    if (result == PDU_ERR_INVALID_PARAMETERS && *usedId == kOrvexRawCan) {
        if (fdChannel && !s.CanFdAllowAltRawFallback) {
            WriteLogLine("Dpdu_OpenLink: CAN-FD requested; skipping alternate RAWCAN fallback (0x300B0003)");
        } else {
            WriteLogLine("Dpdu_OpenLink: got 0x50 for ResourceId=0x300C0003. Retrying with 0x300B0003");
            result = TryCreateLink(c, kOrvexAltRawCan, false);
            *usedId = kOrvexAltRawCan;
        }
    }
    if (result == PDU_ERR_INVALID_PARAMETERS) {
        if (fdChannel && !s.CanFdAllowRidUndefFallback) {
            WriteLogLine("Dpdu_OpenLink: CAN-FD requested; RID_UNDEF fallback disabled");
        } else {
            WriteLogLine("Dpdu_OpenLink: got 0x50. Retrying with ResourceId=0xFFFFFFFE + RscData");
            result = TryCreateLink(c, kRidUndef, true);
            *usedId = kRidUndef;
        }
    }
    if (result != PDU_STATUS_NOERROR) {
        if (fdChannel && !s.CanFdAllowAltRawFallback) {
            WriteLogLine("Dpdu_OpenLink: CAN-FD requested; discovered ResourceId fallback disabled");
        } else {
            uint32_t found = DiscoverResourceId(c->hMod, c->tmpl, nullptr);
            if (found != 0) {
                LogPrintf("Dpdu_OpenLink: retrying with discovered ResourceId=%u", found);
                result = TryCreateLink(c, found, false);
                *usedId = found;
            }
        }
    }
    return result;
}

bool IsOneOf(uint32_t id, std::initializer_list<uint32_t> ids) {
    for (uint32_t x : ids)
        if (ResourceIdConfigured(x) && x == id) return true;
    return false;
}

// The CAN FD ComParams; false (link still to be destroyed by the caller) when CAN FD is not
// available on this backend.
bool ApplyCanFdComParams(uint32_t hMod, uint32_t hCLL, uint32_t resourceId, std::string* error) {
    const auto& r = g_config.ResourceIds;
    const auto& fd = g_config.CanFd;
    if (!IsOneOf(resourceId, {r.CanFdHS, r.Iso15765FdHS, r.CanFdLS, r.Iso15765FdLS})) {
        WriteLogLine("Dpdu_OpenLink: CAN-FD requested, but no FD resource exists in MDF; falling back to RAWCAN "
                     "(classic CAN)");
        WriteLogLine("Dpdu_OpenLink: CAN-FD ComParams skipped (non-FD resourceId in use)");
        return true;
    }
    if (IsOneOf(resourceId, {r.CanRawHS, r.CanHS, r.CanRawLS, r.CanLS}))
        WriteLogLine("Dpdu_OpenLink: CAN-FD requested on shared RAWCAN resource; enabling FD comparams");
    std::atomic<int>& support = g_backend.learnt.canFdSupport[static_cast<uint32_t>(CurrentBackendType()) % 3];
    if (support.load() == 2) {
        *error = "Dpdu_OpenLink: CAN-FD not supported (cached)";
        return false;
    }
    uint32_t code = SetComParamByName(hMod, hCLL, "CP_CANFDBaudrate", fd.DataBaud);
    if (code != PDU_STATUS_NOERROR) {
        LogPrintf("Dpdu_OpenLink: WARN: CP_CANFDBaudrate set failed: %s", PduCodeText(code).c_str());
        support = 2;
        *error = "Dpdu_OpenLink: CAN-FD not supported (backend rejected FD baudrate)";
        WriteLogLine(*error);
        return false;
    }
    support = 1;
    const bool trx = CurrentBackendType() == BackendType::TRX4820;
    uint32_t accepted = 0;
    if (fd.EnableTxMaxLen && !g_backend.learnt.txMaxLenRejected.load() && !trx) {
        bool allRejected = true;
        for (uint32_t value : {fd.TxMaxDataLength, 32u, 16u}) {
            if (value == 0) continue;
            code = SetComParamByName(hMod, hCLL, "CP_CANFDTxMaxDataLength", value);
            LogPrintf("Dpdu_OpenLink: trying CP_CANFDTxMaxDataLength=%u -> %s", value, PduCodeText(code).c_str());
            if (code == PDU_STATUS_NOERROR) {
                LogPrintf("Dpdu_OpenLink: CP_CANFDTxMaxDataLength set to %u", value);
                accepted = value;
                allRejected = false;
                break;
            }
            if (code != PDU_ERR_INVALID_PARAMETERS)
                LogPrintf("Dpdu_OpenLink: WARN: CP_CANFDTxMaxDataLength set failed: %s", PduCodeText(code).c_str());
            if (code == PDU_ERR_INVALID_PARAMETERS || code == PDU_ERR_COMPARAM_NOT_SUPPORTED) continue;
            allRejected = false;
            break;
        }
        if (allRejected) {
            WriteLogLine("Dpdu_OpenLink: NOTE: backend rejected CP_CANFDTxMaxDataLength (0x50/0x63). Disabling "
                         "TxMaxLen ComParam for rest of session.");
            g_backend.learnt.txMaxLenRejected = true;
        }
    }
    std::string shown;
    if (!fd.EnableTxMaxLen)
        shown = "DISABLED";
    else if (trx)
        shown = "SKIPPED_VW_ODIS";
    else if (g_backend.learnt.txMaxLenRejected.load())
        shown = "REJECTED_BY_BACKEND";
    else
        shown = std::to_string(accepted ? accepted : fd.TxMaxDataLength);
    LogPrintf("Dpdu_OpenLink: CAN-FD ComParams set (DataBaud=%u, TxMaxLen=%s)", fd.DataBaud, shown.c_str());
    return true;
}

bool ApplyRawMode(uint32_t hMod, uint32_t hCLL) {
    if (!g_backend.learnt.rawModeAttempts.load()) {
        WriteLogLine("Dpdu_OpenLink: CP_RawMode skipped (unsupported)");
        return false;
    }
    uint32_t code = SetComParamByName(hMod, hCLL, "CP_RawMode", 1);
    if (code == PDU_STATUS_NOERROR) {
        WriteLogLine("Dpdu_OpenLink: CP_RawMode enabled (1)");
        return true;
    }
    LogPrintf("Dpdu_OpenLink: CP_RawMode unsupported/failed (non-fatal): %s", PduCodeText(code).c_str());
    if (code == PDU_ERR_INVALID_PARAMETERS || code == PDU_ERR_COMPARAM_NOT_SUPPORTED) {
        WriteLogLine("Dpdu_OpenLink: disabling CP_RawMode attempts (unsupported)");
        g_backend.learnt.rawModeAttempts = false;
    }
    return false;
}

}  // namespace

DpduResult Dpdu_OpenLink(uint32_t moduleId, const std::string& logicalLinkName, uint32_t protocolId,
                         uint32_t* linkId) {
    std::string err;
    uint32_t hMod = 0;
    if (!LookupModule(moduleId, &hMod)) return DpduFailure(DpduStatus::Failed, "Dpdu_OpenLink: invalid module handle");
    LogPrintf("Dpdu_OpenLink: module=%u (hMod=%u), logicalLinkName='%s'", moduleId, hMod, logicalLinkName.c_str());
    LinkKind kind = ClassifyLinkName(logicalLinkName);
    uint32_t mappedId = 0;
    if (!MapResourceId(kind, logicalLinkName, &mappedId, &err)) return DpduFailure(DpduStatus::Failed, err);
    LogPrintf("Dpdu_OpenLink: using resourceId=%u", mappedId);
    DpduLink link;
    link.iso15765 = kind.iso15765;
    link.canIdMode = CurrentBackendType() == BackendType::TRX4820 && kind.can;
    uint32_t usedId = mappedId;
    uint32_t code = PDU_STATUS_NOERROR;
    if (kind.doip) {
        // The link may live on the DoIP entity module rather than on the one asked for.
        if (!CreateDoipLink(&hMod, mappedId, link.flagData, &link.hCLL, &usedId, &err))
            return DpduFailure(DpduStatus::Failed, err);
    } else {
        Template tmpl;
        BuildTemplate(kind, &tmpl);
        const bool fdChannel = kind.iso15765Fd || j2534::IsCanFdProtocol(protocolId);
        CreateContext ctx{hMod, &tmpl, link.flagData, true};
        code = CreateWithFallbacks(&ctx, kind, fdChannel, mappedId, &usedId);
        if (code != PDU_STATUS_NOERROR) {
            err = "PDUCreateComLogicalLink failed with error " + PduCodeText(code);
            WriteLogLine(err);
            return DpduFailure(DpduStatus::Failed, err, code);
        }
        link.hCLL = ctx.hCLL;
    }
    link.hMod = hMod;
    link.resourceId = usedId;
    if (kind.canFd && !kind.doip && !ApplyCanFdComParams(hMod, link.hCLL, usedId, &err)) {
        CallPDUDestroyComLogicalLink(hMod, link.hCLL);
        return DpduFailure(DpduStatus::NotSupported, err);
    }
    code = CallPDUConnect(hMod, link.hCLL);
    if (code != PDU_STATUS_NOERROR) {
        err = "PDUConnect (link) failed with error " + PduCodeText(code);
        WriteLogLine(err);
        CallPDUDestroyComLogicalLink(hMod, link.hCLL);
        return DpduFailure(DpduStatus::Failed, err, code);
    }
    if (kind.can && !kind.doip) link.rawMode = ApplyRawMode(hMod, link.hCLL);
    uint32_t id;
    {
        std::lock_guard<std::mutex> lock(g_backend.tableLock);
        id = ++g_backend.nextLinkId;
        g_backend.links[id] = link;
        g_backend.linkNames[id] = logicalLinkName;
        LinksChangedLocked();
    }
    LogPrintf("OpenLink resourceId PASS (%u)", usedId);
    LogPrintf("OpenLink resourceId: PASS (%u)", usedId);
    WriteLogLine("OpenLink resourceId: PASS");
    LogPrintf("OpenLink resourceId: PASS (0x%X)", usedId);
    if (g_config.Logging.ExposeResourceId)
        LogPrintf("OpenLink: logicalLink='%s' resourceId=0x%X", logicalLinkName.c_str(), usedId);
    if (linkId) *linkId = id;
    return {};
}

DpduResult Dpdu_CloseLink(uint32_t linkId) {
    DpduLink link;
    {
        std::lock_guard<std::mutex> lock(g_backend.tableLock);
        auto it = g_backend.links.find(linkId);
        if (it == g_backend.links.end()) return DpduFailure(DpduStatus::Failed, "Dpdu_CloseLink: invalid link handle");
        link = it->second;
        EraseLinkLocked(linkId);
    }
    LogPrintf("Dpdu_CloseLink: link=%u (hMod=%u, hCLL=%u)", linkId, link.hMod, link.hCLL);
    DestroyVendorLink(link.hMod, link.hCLL);
    return {};
}

bool Dpdu_GetLinkRawMode(uint32_t linkId, bool* rawMode) {
    DpduLink link;
    if (!LookupLink(linkId, &link)) return false;
    if (rawMode) *rawMode = link.rawMode;
    return true;
}
