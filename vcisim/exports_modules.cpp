// Exported D-PDU API: construction, modules, object ids, resources, I/O controls and the
// module-wide queries.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "vcisim/calls.h"
#include "vcisim/sim_state.h"
#include "vcisim/traffic.h"

namespace vcisim {
namespace {

void DropLinksOf(Sim& s, uint32_t hMod) {
    for (auto it = s.links.begin(); it != s.links.end();) {
        if (it->second.hMod == hMod) {
            EndTraffic(s, it->second);
            it = s.links.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace
}  // namespace vcisim

using namespace vcisim;

VCISIM_API PDUConstruct(CHAR8* OptionStr, void* pAPITag) {
    (void)pAPITag;
    Sim& s = S();
    std::string args = "option=" + Quoted(OptionStr);
    T_PDU_ERROR code = 0;
    if (Intercepted(fConstruct, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (s.constructed) {
        TraceCall(fConstruct, args, PDU_ERR_SHARING_VIOLATION, "");
        return PDU_ERR_SHARING_VIOLATION;
    }
    LoadScenario(s);
    std::string opt = OptionStr ? OptionStr : "<null>";
    if (!s.sc.acceptAllOptions && !s.sc.acceptedOptions.count(opt)) {
        TraceCall(fConstruct, args, s.sc.constructError, "");
        return s.sc.constructError;
    }
    s.modules.clear();
    uint32_t h = 1;
    for (const ModuleDef& d : s.sc.modules) {
        Module m;
        m.def = d;
        m.hMod = h++;
        m.status = d.status;
        m.bus.timing.timed = s.sc.timed;
        m.bus.timing.nominalBaud = s.sc.canBaud;
        m.bus.timing.dataBaud = s.sc.canFdDataBaud;
        s.modules.push_back(m);
    }
    s.ecus.clear();
    for (const EcuConfig& c : s.sc.ecus) s.ecus.emplace_back(new DiagnosticEcu(c, NowUs));
    s.links.clear();
    s.vehicleIdDone = false;
    s.callback = nullptr;
    s.constructed = true;
    TraceCall(fConstruct, args, 0, "");
    return PDU_STATUS_NOERROR;
}

#if !defined(VCISIM_NO_DESTRUCT)
VCISIM_API PDUDestruct(void) {
    Sim& s = S();
    T_PDU_ERROR code = 0;
    std::string args;
    if (Intercepted(fDestruct, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    for (auto& kv : s.links) EndTraffic(s, kv.second);
    s.links.clear();
    s.modules.clear();
    s.ecus.clear();
    s.constructed = false;
    std::vector<Holder*> leaked;
    for (auto& kv : s.live) leaked.push_back(kv.second.get());
    std::sort(leaked.begin(), leaked.end(), [](Holder* a, Holder* b) { return a->serial < b->serial; });
    TraceCall(fDestruct, "", 0, "liveItems=" + std::to_string(leaked.size()));
    for (Holder* h : leaked) s.trace.Line("LEAK item=" + ItemRef(h));
    for (auto& kv : s.live) s.orphans[kv.first] = std::move(kv.second);
    s.live.clear();
    return PDU_STATUS_NOERROR;
}
#endif

VCISIM_API PDUGetModuleIds(PDU_MODULE_ITEM** pModuleIdList) {
    Sim& s = S();
    T_PDU_ERROR code = 0;
    std::string args;
    if (Intercepted(fGetModuleIds, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!pModuleIdList) {
        TraceCall(fGetModuleIds, "out=null", PDU_ERR_INVALID_PARAMETERS, "");
        return PDU_ERR_INVALID_PARAMETERS;
    }
    Holder* h = NewHolder(s, PDU_IT_MODULE_ID, nullptr);
    std::string list;
    for (const Module& m : s.modules) {
        if (!ModuleVisible(s, m)) continue;
        h->strings.push_back(m.def.name);
        h->strings.push_back(m.def.info);
    }
    size_t si = 0;
    for (const Module& m : s.modules) {
        if (!ModuleVisible(s, m)) continue;
        PDU_MODULE_DATA md{};
        md.ModuleTypeId = m.def.typeId;
        md.hMod = m.hMod;
        md.pVendorModuleName = &h->strings[si++][0];
        md.pVendorAdditionalInfo = &h->strings[si++][0];
        md.ModuleStatus = m.status;
        h->modules.push_back(md);
        list += (list.empty() ? "" : ",") + std::to_string(m.hMod) + ":" + Quoted(m.def.name.c_str()) + ":" + Hex(m.status);
    }
    h->moduleItem.NumEntries = UNUM32(h->modules.size());
    h->moduleItem.pModuleData = h->modules.empty() ? nullptr : h->modules.data();
    Register(s, h, reinterpret_cast<PDU_ITEM*>(&h->moduleItem));
    *pModuleIdList = &h->moduleItem;
    TraceCall(fGetModuleIds, "", 0, "item=" + ItemRef(h) + " modules=" + std::to_string(h->modules.size()) + " [" + list + "]");
    return 0;
}

VCISIM_API PDUModuleConnect(UNUM32 hMod) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod);
    T_PDU_ERROR code = 0;
    if (Intercepted(fModuleConnect, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Module* m = FindModule(s, hMod);
    if (!m || !ModuleVisible(s, *m)) code = PDU_ERR_INVALID_HANDLE;
    else {
        unsigned n = m->connectCalls++;
        if (n < m->def.connectResults.size() && m->def.connectResults[n] != 0) code = m->def.connectResults[n];
        else if (m->status == PDU_MODST_NOT_AVAIL || m->status == PDU_MODST_NOT_READY) code = PDU_ERR_FCT_FAILED;
        else {
            m->connected = true;
            m->status = PDU_MODST_READY;
        }
    }
    TraceCall(fModuleConnect, args, code, "");
    return code;
}

VCISIM_API PDUModuleDisconnect(UNUM32 hMod) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod);
    T_PDU_ERROR code = 0;
    if (Intercepted(fModuleDisconnect, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Module* m = FindModule(s, hMod);
    if (!m) code = PDU_ERR_INVALID_HANDLE;
    else if (!m->connected) code = PDU_ERR_MODULE_NOT_CONNECTED;
    else {
        DropLinksOf(s, hMod);
        m->connected = false;
        m->status = m->def.status == PDU_MODST_READY ? PDU_MODST_READY : PDU_MODST_AVAIL;
    }
    TraceCall(fModuleDisconnect, args, code, "");
    return code;
}

VCISIM_API PDUGetObjectId(T_PDU_OBJT pduObjectType, CHAR8* pShortname, UNUM32* pPduObjectId) {
    Sim& s = S();
    static const char* kTypes[] = {"PROTOCOL", "BUSTYPE", "IO_CTRL", "COMPARAM", "PINTYPE", "RESOURCE"};
    std::string tname = pduObjectType >= PDU_OBJT_PROTOCOL && pduObjectType <= PDU_OBJT_RESOURCE
                            ? kTypes[pduObjectType - PDU_OBJT_PROTOCOL] : Hex(pduObjectType);
    std::string args = "type=" + tname + " name=" + Quoted(pShortname);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetObjectId, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!pShortname || !pPduObjectId || pduObjectType < PDU_OBJT_PROTOCOL || pduObjectType > PDU_OBJT_RESOURCE) {
        TraceCall(fGetObjectId, args, PDU_ERR_INVALID_PARAMETERS, "");
        return PDU_ERR_INVALID_PARAMETERS;
    }
    std::string name = pShortname;
    uint32_t id = PDU_ID_UNDEF;
    auto search = [&](const NamedId* table, size_t n) {
        for (size_t i = 0; i < n; ++i)
            if (name == table[i].name) id = table[i].id;
    };
    switch (pduObjectType) {
    case PDU_OBJT_COMPARAM:
        for (const ComParamDef& d : kComParams)
            if (name == d.name && ComParamKnown(s, d)) id = d.id;
        break;
    case PDU_OBJT_IO_CTRL: search(kIoctls, sizeof kIoctls / sizeof kIoctls[0]); break;
    case PDU_OBJT_BUSTYPE: search(kBusTypes, sizeof kBusTypes / sizeof kBusTypes[0]); break;
    case PDU_OBJT_PROTOCOL: search(kProtocols, sizeof kProtocols / sizeof kProtocols[0]); break;
    case PDU_OBJT_PINTYPE: search(kPinTypes, sizeof kPinTypes / sizeof kPinTypes[0]); break;
    default: break;
    }
    if (s.sc.unknownNames.count(name)) id = PDU_ID_UNDEF;
    *pPduObjectId = id;
    TraceCall(fGetObjectId, args, 0, "id=" + (id == PDU_ID_UNDEF ? std::string("UNDEF") : Hex(id)));
    return 0;
}

VCISIM_API PDUGetResourceIds(UNUM32 hMod, PDU_RSC_DATA* pResourceIdData, PDU_RSC_ID_ITEM** pResourceIdList) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod) + " rsc=" + RscText(pResourceIdData);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetResourceIds, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!pResourceIdData || !pResourceIdList || (pResourceIdData->NumPinData && !pResourceIdData->pDLCPinData)) {
        TraceCall(fGetResourceIds, args, PDU_ERR_INVALID_PARAMETERS, "");
        return PDU_ERR_INVALID_PARAMETERS;
    }
    std::vector<Module*> mods;
    if (hMod == PDU_HANDLE_UNDEF) {
        for (Module& m : s.modules)
            if (ModuleVisible(s, m)) mods.push_back(&m);
    } else {
        Module* m = FindModule(s, hMod);
        if (!m) {
            TraceCall(fGetResourceIds, args, PDU_ERR_INVALID_HANDLE, "");
            return PDU_ERR_INVALID_HANDLE;
        }
        mods.push_back(m);
    }
    Holder* h = NewHolder(s, PDU_IT_RSC_ID, nullptr);
    std::string ids;
    for (Module* m : mods) {
        std::vector<UNUM32> v;
        for (const ResourceDef& r : m->def.resources)
            if (MatchResourceTemplate(r, *pResourceIdData)) {
                v.push_back(r.id);
                ids += (ids.empty() ? "" : " ") + Hex(r.id);
            }
        h->idArrays.push_back(v);
    }
    for (size_t i = 0; i < mods.size(); ++i) {
        PDU_RSC_ID_ITEM_DATA d{};
        d.hMod = mods[i]->hMod;
        d.NumIds = UNUM32(h->idArrays[i].size());
        d.pResourceIdArray = h->idArrays[i].empty() ? nullptr : h->idArrays[i].data();
        h->rscData.push_back(d);
    }
    h->rscItem.NumModules = UNUM32(h->rscData.size());
    h->rscItem.pResourceIdDataArray = h->rscData.empty() ? nullptr : h->rscData.data();
    Register(s, h, reinterpret_cast<PDU_ITEM*>(&h->rscItem));
    *pResourceIdList = &h->rscItem;
    TraceCall(fGetResourceIds, args, 0, "item=" + ItemRef(h) + " ids=[" + ids + "]");
    return 0;
}

VCISIM_API PDUIoCtl(UNUM32 hMod, UNUM32 hCLL, UNUM32 IoCtlCommandId, PDU_DATA_ITEM* pInputData,
                    PDU_DATA_ITEM** pOutputData) {
    Sim& s = S();
    const NamedId* io = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lk(s.mu);
        if (!s.loaded) LoadScenario(s);
        io = IoctlById(s, IoCtlCommandId);
    }
    std::string args = "hMod=" + H(hMod) + " hCLL=" + H(hCLL) + " id=" + std::to_string(IoCtlCommandId) +
                       " name=" + (io ? io->name : "?");
    if (pInputData) {
        args += " in=" + Hex(pInputData->ItemType);
        if (pInputData->ItemType == PDU_IT_IO_UNUM32 && pInputData->pData)
            args += ":" + std::to_string(*static_cast<UNUM32*>(pInputData->pData));
        if (pInputData->ItemType == PDU_IT_IO_ETH_SWITCH_STATE && pInputData->pData) {
            auto* e = static_cast<PDU_IO_ETH_SWITCH_STATE*>(pInputData->pData);
            args += ":state=" + std::to_string(e->EthernetSenseState) + ",pin=" + std::to_string(e->EthernetActPinNumber);
        }
        if (pInputData->ItemType == PDU_IT_IO_VEHICLE_ID_REQUEST && pInputData->pData) {
            auto* v = static_cast<PDU_IO_VEHICLE_ID_REQUEST*>(pInputData->pData);
            args += ":preselection=" + std::to_string(v->PreselectionMode) + ",combination=" +
                    std::to_string(v->CombinationMode) + ",time=" + std::to_string(v->VehicleDiscoveryTime) +
                    ",addresses=" + std::to_string(v->NumDestinationAddresses);
        }
    } else {
        args += " in=null";
    }
    T_PDU_ERROR code = 0;
    if (Intercepted(fIoCtl, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Module* m = FindModule(s, hMod);
    Link* l = nullptr;
    std::string name = io ? io->name : "";
    uint32_t outValue = 0;
    bool wantsOut = false;
    auto inIs = [&](uint32_t type) { return pInputData && pInputData->ItemType == type && pInputData->pData; };
    if (!m) code = PDU_ERR_INVALID_HANDLE;
    else if (hCLL != PDU_HANDLE_UNDEF && !(l = FindLink(s, hMod, hCLL))) code = PDU_ERR_INVALID_HANDLE;
    else if (!io) code = PDU_ERR_ID_NOT_SUPPORTED;
    else if (!m->connected) code = PDU_ERR_MODULE_NOT_CONNECTED;
    else if (s.sc.ioctlResults.count(name)) code = s.sc.ioctlResults[name];
    else if (name == "PDU_IOCTL_READ_VBATT") {
        wantsOut = true;
        outValue = m->def.vbattMv;
    } else if (name == "PDU_IOCTL_READ_IGNITION_SENSE_STATE") {
        wantsOut = true;
        outValue = m->def.ignition;
    } else if (name == "PDU_IOCTL_READ_PROG_VOLTAGE") {
        wantsOut = true;
        outValue = m->progVoltageMv;
    } else if (name == "PDU_IOCTL_GET_CABLE_ID") {
        wantsOut = true;
        outValue = 1;
    } else if (name == "PDU_IOCTL_GET_ENTITY_STATUS") {
        wantsOut = true;
        outValue = s.vehicleIdDone ? 1 : 0;
    } else if (name == "PDU_IOCTL_SET_ETH_SWITCH_STATE") {
        if (!inIs(PDU_IT_IO_ETH_SWITCH_STATE)) code = PDU_ERR_INVALID_PARAMETERS;
        else {
            auto* e = static_cast<PDU_IO_ETH_SWITCH_STATE*>(pInputData->pData);
            if (e->EthernetSenseState > 1) code = PDU_ERR_VALUE_NOT_SUPPORTED;
            else m->ethSwitch = e->EthernetSenseState;
        }
    } else if (name == "PDU_IOCTL_VEHICLE_ID_REQUEST") {
        if (!inIs(PDU_IT_IO_VEHICLE_ID_REQUEST)) code = PDU_ERR_INVALID_PARAMETERS;
        else {
            auto* v = static_cast<PDU_IO_VEHICLE_ID_REQUEST*>(pInputData->pData);
            if (v->NumDestinationAddresses && !v->pDestinationAddresses) code = PDU_ERR_INVALID_PARAMETERS;
            else s.vehicleIdDone = true;
        }
    } else if (name == "PDU_IOCTL_SET_PROG_VOLTAGE") {
        if (!inIs(PDU_IT_IO_PROG_VOLTAGE)) code = PDU_ERR_INVALID_PARAMETERS;
        else m->progVoltageMv = *static_cast<UNUM32*>(pInputData->pData);
    } else if (name.find("LOCATOR") != std::string::npos || name.find("DISCOVERY") != std::string::npos) {
        if (!inIs(PDU_IT_IO_UNUM32)) code = PDU_ERR_INVALID_PARAMETERS;
    } else if (name == "PDU_IOCTL_CLEAR_RX_QUEUE" || name == "PDU_IOCTL_CLEAR_TX_QUEUE" || name == "PDU_IOCTL_RESET") {
        for (auto& kv : s.links)
            if (kv.second.hMod == hMod && (!l || &kv.second == l)) {
                CatchUp(s, kv.second);  // what arrived before the clear goes with it
                kv.second.events.clear();
                kv.second.isoTp.clear();
            }
    }
    if (code == 0 && wantsOut && !pOutputData) code = PDU_ERR_INVALID_PARAMETERS;
    std::string outs;
    if (code == 0 && wantsOut) {
        Holder* h = NewHolder(s, PDU_IT_IO_UNUM32, nullptr);
        h->value = outValue;
        h->dataItem.pData = &h->value;
        Register(s, h, reinterpret_cast<PDU_ITEM*>(&h->dataItem));
        *pOutputData = &h->dataItem;
        outs = "out=" + ItemRef(h) + " value=" + std::to_string(outValue);
    } else if (pOutputData && code == 0) {
        *pOutputData = nullptr;
    }
    TraceCall(fIoCtl, args, code, outs);
    return code;
}

VCISIM_API PDUGetVersion(UNUM32 hMod, PDU_VERSION_DATA* pVersionData) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetVersion, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    Module* m = FindModule(s, hMod);
    if (!pVersionData) code = PDU_ERR_INVALID_PARAMETERS;
    else if (!m) code = PDU_ERR_INVALID_HANDLE;
    else {
        std::memset(pVersionData, 0, sizeof *pVersionData);
        pVersionData->MVCI_Part1StandardVersion = 0x03000000;
        pVersionData->MVCI_Part2StandardVersion = 0x03000000;
        pVersionData->HwSerialNumber = m->hMod;
        std::snprintf(pVersionData->HwName, sizeof pVersionData->HwName, "%s", m->def.name.c_str());
        pVersionData->HwVersion = 0x01000000;
        std::snprintf(pVersionData->FwName, sizeof pVersionData->FwName, "VciSim firmware");
        pVersionData->FwVersion = 0x01000000;
        std::snprintf(pVersionData->VendorName, sizeof pVersionData->VendorName, "VciSim");
        std::snprintf(pVersionData->PDUApiSwName, sizeof pVersionData->PDUApiSwName, "VciSim D-PDU API");
        pVersionData->PDUApiSwVersion = 0x01000000;
    }
    TraceCall(fGetVersion, args, code, "");
    return code;
}

VCISIM_API PDUGetResourceStatus(PDU_RSC_STATUS_ITEM* pResourceStatus) {
    Sim& s = S();
    T_PDU_ERROR code = 0;
    std::string args;
    if (Intercepted(fGetResourceStatus, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!pResourceStatus || pResourceStatus->ItemType != PDU_IT_RSC_STATUS ||
        (pResourceStatus->NumEntries && !pResourceStatus->pResourceStatusData))
        code = PDU_ERR_INVALID_PARAMETERS;
    else {
        for (UNUM32 i = 0; i < pResourceStatus->NumEntries && code == 0; ++i) {
            PDU_RSC_STATUS_DATA& d = pResourceStatus->pResourceStatusData[i];
            Module* m = FindModule(s, d.hMod);
            if (!m) {
                code = PDU_ERR_INVALID_HANDLE;
                break;
            }
            bool known = false;
            for (const ResourceDef& r : m->def.resources) known = known || r.id == d.ResourceId;
            if (!known) code = PDU_ERR_INVALID_PARAMETERS;
            else d.ResourceStatus = 1;  // available
        }
    }
    TraceCall(fGetResourceStatus, "entries=" + std::to_string(pResourceStatus ? pResourceStatus->NumEntries : 0), code, "");
    return code;
}

VCISIM_API PDUGetConflictingResources(UNUM32 resourceId, PDU_MODULE_ITEM* pInputModuleList,
                                      PDU_RSC_CONFLICT_ITEM** pOutputConflictList) {
    Sim& s = S();
    std::string args = "resourceId=" + Hex(resourceId) + " modules=" + Ptr(pInputModuleList);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetConflictingResources, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    std::string outs;
    if (!pOutputConflictList || !pInputModuleList || pInputModuleList->ItemType != PDU_IT_MODULE_ID) code = PDU_ERR_INVALID_PARAMETERS;
    else {
        Holder* h = NewHolder(s, PDU_IT_RSC_CONFLICT, nullptr);
        Register(s, h, reinterpret_cast<PDU_ITEM*>(&h->conflictItem));
        *pOutputConflictList = &h->conflictItem;
        outs = "item=" + ItemRef(h) + " conflicts=0";
    }
    TraceCall(fGetConflictingResources, args, code, outs);
    return code;
}

VCISIM_API PDUGetTimestamp(UNUM32 hMod, UNUM32* pTimestamp) {
    Sim& s = S();
    std::string args = "hMod=" + H(hMod);
    T_PDU_ERROR code = 0;
    if (Intercepted(fGetTimestamp, args, &code)) return code;
    std::lock_guard<std::recursive_mutex> lk(s.mu);
    if (!pTimestamp) code = PDU_ERR_INVALID_PARAMETERS;
    else if (!FindModule(s, hMod)) code = PDU_ERR_INVALID_HANDLE;
    else *pTimestamp = UNUM32(NowUs());
    TraceCall(fGetTimestamp, args, code, "");
    return code;
}
