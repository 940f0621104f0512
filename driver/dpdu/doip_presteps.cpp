#include "driver/dpdu/doip_presteps.h"

#include "driver/config/config_values.h"
#include "driver/config/driver_config.h"
#include "driver/log/log.h"
#include "driver/dpdu/api_table.h"
#include "driver/dpdu/backend_state.h"
#include "driver/dpdu/dpdu_backend.h"


namespace {
constexpr uint32_t kEthActivationPin = 8;
constexpr const char* kEthSwitchIoctl = "PDU_IOCTL_SET_ETH_SWITCH_STATE";

bool EthSwitchIoctlId(uint32_t* id) {
    *id = g_backend.doip.ethSwitchIoctlId.load();
    if (*id != 0) return true;
    if (!GetIoctlId(kEthSwitchIoctl, id)) return false;
    g_backend.doip.ethSwitchIoctlId = *id;
    return true;
}

uint32_t SendEthSwitch(uint32_t hMod, uint32_t id, uint32_t state) {
    PDU_IO_ETH_SWITCH_STATE value{state, kEthActivationPin};
    PDU_DATA_ITEM input{PDU_IT_IO_ETH_SWITCH_STATE, &value};
    return GuardedIoCtl(hMod, id, &input, nullptr);
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }
}  // namespace

bool GetIoctlId(const char* name, uint32_t* id) {
    uint32_t value = PDU_ID_UNDEF;
    uint32_t exceptionCode = 0;
    // A crash is logged by the guarded lookup itself.
    uint32_t code = GuardedGetObjectId(PDU_OBJT_IO_CTRL, name, &value, &exceptionCode);
    if (code != PDU_STATUS_NOERROR || value == PDU_HANDLE_UNDEF || value == PDU_ID_UNDEF) {
        LogPrintf("Dpdu_OpenLink: PDUGetObjectId failed for %s: %s", name,
                  PduCodeText(code).c_str());
        return false;
    }
    LogPrintf("Dpdu_OpenLink: PDUGetObjectId %s -> %u", name, value);
    if (id) *id = value;
    return true;
}

bool SetEthSwitch(uint32_t hMod, uint32_t state) {
    uint32_t id = 0;
    if (!EthSwitchIoctlId(&id)) return false;
    uint32_t code = SendEthSwitch(hMod, id, state);
    LogPrintf("Dpdu_OpenLink: IOCTL SET_ETH_SWITCH_STATE (%u) state=%u hCLL=%u -> %s", id, state, PDU_HANDLE_UNDEF,
              PduCodeText(code).c_str());
    return code == PDU_STATUS_NOERROR;
}

bool EthSwitchOn(uint32_t hMod) {
    const auto& d = g_config.DoIP;
    if (d.SkipEthSwitchIoctl) {
        WriteLogLine("Dpdu_OpenLink: Skipping ETH_SWITCH_STATE IOCTL (SkipEthSwitchIoctl=1)");
        return true;
    }
    uint32_t id = 0;
    if (!EthSwitchIoctlId(&id)) return false;
    bool ok = true;
    if (d.EthSwitchToggle) {
        ok = SetEthSwitch(hMod, 0);
        if (d.EthSwitchDelayMs != 0) DpduSleepMs(d.EthSwitchDelayMs);
    }
    ok = SetEthSwitch(hMod, 1) && ok;
    if (ok) g_backend.doip.ethSwitchOn = true;
    return ok;
}

void EthSwitchOff(uint32_t hMod) {
    if (!g_backend.doip.ethSwitchOn.load() || g_config.DoIP.SkipEthSwitchIoctl) return;
    uint32_t id = 0;
    if (!EthSwitchIoctlId(&id)) return;
    uint32_t code = SendEthSwitch(hMod, id, 0);
    LogPrintf("Dpdu_Shutdown: IOCTL SET_ETH_SWITCH_STATE (%u) state=0 hCLL=%u -> %s", id, PDU_HANDLE_UNDEF,
              PduCodeText(code).c_str());
    g_backend.doip.ethSwitchOn = false;
}

bool VehicleIdRequest(uint32_t hMod) {
    const auto& d = g_config.DoIP;
    if (d.SkipVehicleIdRequest) {
        WriteLogLine("Dpdu_OpenLink: Skipping DoIP VEHICLE_ID_REQUEST (SkipVehicleIdRequest=1)");
        return true;
    }
    if (!d.TargetIp.empty()) {
        WriteLogLine("Dpdu_OpenLink: Skipping DoIP VEHICLE_ID_REQUEST (TargetIp override set)");
        return true;
    }
    if (!d.Discovery) {
        WriteLogLine("Dpdu_OpenLink: Skipping DoIP VEHICLE_ID_REQUEST (Discovery=0)");
        return true;
    }
    uint32_t id = 0;
    if (!GetIoctlId("PDU_IOCTL_VEHICLE_ID_REQUEST", &id)) return false;
    PDU_IO_VEHICLE_ID_REQUEST request{0, nullptr, d.VehicleDiscoveryCombinationMode, d.VehicleDiscoveryTimeMs, 0,
                                      nullptr};
    PDU_DATA_ITEM input{PDU_IT_IO_VEHICLE_ID_REQUEST, &request};
    uint32_t code = GuardedIoCtl(hMod, id, &input, nullptr);
    LogPrintf("Dpdu_OpenLink: IOCTL VEHICLE_ID_REQUEST (%u) hCLL=%u -> %s", id, PDU_HANDLE_UNDEF,
              PduCodeText(code).c_str());
    return code == PDU_STATUS_NOERROR;
}

bool OpenDoipEntityModule(uint32_t* hMod) {
    uint32_t cached = g_backend.doip.entityModuleId.load();
    if (cached != 0) {
        if (LookupModule(cached, hMod)) return true;
        g_backend.doip.entityModuleId = 0;
    }
    PDU_MODULE_ITEM* list = nullptr;
    uint32_t code = CallPDUGetModuleIds(&list);
    uint32_t found = 0;
    std::string vendor, info;
    if (code == PDU_STATUS_NOERROR && list && list->pModuleData) {
        for (uint32_t i = 0; i < list->NumEntries && found == 0; ++i) {
            const PDU_MODULE_DATA& m = list->pModuleData[i];
            std::string name = LowerAscii(m.pVendorModuleName ? m.pVendorModuleName : "");
            if (!Contains(name, "doip_entity") && !Contains(name, "iso_13400")) continue;
            found = m.hMod;
            vendor = m.pVendorModuleName ? m.pVendorModuleName : "";
            info = m.pVendorAdditionalInfo ? m.pVendorAdditionalInfo : "";
        }
    }
    ReleaseItem(list);
    if (found == 0) return false;
    code = CallPDUModuleConnect(found);
    if (code != PDU_STATUS_NOERROR) {
        LogPrintf("Dpdu_OpenLink: DoIP entity ModuleConnect failed: %s", PduCodeText(code).c_str());
        return false;
    }
    const uint32_t id = ++g_backend.nextModuleId;
    {
        std::lock_guard<std::mutex> lock(g_backend.tableLock);
        g_backend.moduleTable[id] = found;
    }
    g_backend.doip.entityModuleId = id;
    LogPrintf("Dpdu_OpenLink: DoIP entity module connected, hMod=%u Vendor='%s' Info='%s'", found, vendor.c_str(),
              info.c_str());
    *hMod = found;
    return true;
}

void StopDiscovery(uint32_t hMod) {
    struct Control {
        const char* name;
        uint32_t value;
    };
    static const Control kControls[] = {
        {"PDU_IOCTL_SET_LOCATOR_STATE", 0},  {"PDU_IOCTL_SET_DISCOVERY_STATE", 0},
        {"PDU_IOCTL_SET_VEHICLE_DISCOVERY_STATE", 0}, {"PDU_IOCTL_DISABLE_LOCATOR", 1},
        {"PDU_IOCTL_DISABLE_DISCOVERY", 1},   {"PDU_IOCTL_STOP_LOCATOR", 0},
        {"PDU_IOCTL_STOP_DISCOVERY", 0},
    };
    for (const Control& control : kControls) {
        uint32_t id = PDU_ID_UNDEF;
        uint32_t exceptionCode = 0;
        uint32_t code = GuardedGetObjectId(PDU_OBJT_IO_CTRL, control.name, &id, &exceptionCode);
        if (code != PDU_STATUS_NOERROR || id == PDU_HANDLE_UNDEF || id == PDU_ID_UNDEF) continue;
        uint32_t value = control.value;
        PDU_DATA_ITEM input{PDU_IT_IO_UNUM32, &value};
        code = GuardedIoCtl(hMod, id, &input, nullptr);
        LogPrintf("Dpdu_Shutdown: IOCTL %s (%u) value=%u hCLL=%u -> %s", control.name, id, control.value,
                  PDU_HANDLE_UNDEF, PduCodeText(code).c_str());
    }
}

DpduResult Dpdu_RunDoipPreSteps(uint32_t moduleId) {
    if (moduleId == 0) return DpduFailure(DpduStatus::Failed, "Dpdu_RunDoipPreSteps: invalid module handle");
    uint32_t callerHMod = 0;
    if (!LookupModule(moduleId, &callerHMod))
        return DpduFailure(DpduStatus::Failed, "Dpdu_RunDoipPreSteps: unknown module handle");
    const auto& d = g_config.DoIP;
    uint32_t hMod = callerHMod;
    bool onEntity = false;
    if (!d.LegacyFlow && OpenDoipEntityModule(&hMod)) {
        LogPrintf("Dpdu_RunDoipPreSteps: DoIP entity module hMod=%u", hMod);
        onEntity = true;
    }
    const uint32_t attempts = d.SwitchRetries > 1 ? d.SwitchRetries : 1;
    bool switched = false;
    for (uint32_t n = 1; n <= attempts && !switched; ++n) {
        switched = EthSwitchOn(hMod);
        if (switched || n == attempts) continue;
        LogPrintf("Dpdu_RunDoipPreSteps: ETH switch attempt %u failed (will retry)", n);
        if (d.SwitchRetryDelayMs != 0) DpduSleepMs(d.SwitchRetryDelayMs);
    }
    if (!switched && !(!d.SwitchFirst && d.AllowEthSwitchFailure)) {
        WriteLogLine("Dpdu_RunDoipPreSteps: DoIP pre-steps failed (ETH switch)");
        return DpduFailure(DpduStatus::Failed, "DoIP pre-steps failed (ETH switch)");
    }
    if (switched && d.SwitchSettleMs != 0) DpduSleepMs(d.SwitchSettleMs);
    if (!VehicleIdRequest(hMod))
        LogPrintf("Dpdu_RunDoipPreSteps: VEHICLE_ID_REQUEST failed on hMod=%u (continuing)", hMod);
    if (onEntity && callerHMod != hMod && !VehicleIdRequest(callerHMod))
        LogPrintf("Dpdu_RunDoipPreSteps: VEHICLE_ID_REQUEST failed on hMod=%u (continuing)", callerHMod);
    return {};
}
