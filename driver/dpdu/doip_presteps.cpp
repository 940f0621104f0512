#include "driver/dpdu/doip_presteps.h"

#include "driver/config/driver_config.h"
#include "driver/config/log.h"
#include "driver/dpdu/api_table.h"

std::atomic<bool> g_ethSwitchOn{false};
std::atomic<uint32_t> g_ethSwitchIoctlId{0};

namespace {
constexpr uint32_t kEthActivationPin = 8;
}

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

void EthSwitchOff(uint32_t hMod) {
    if (!g_ethSwitchOn.load() || g_config.DoIP.SkipEthSwitchIoctl) return;
    uint32_t id = g_ethSwitchIoctlId.load();
    if (id == 0) {
        if (!GetIoctlId("PDU_IOCTL_SET_ETH_SWITCH_STATE", &id)) return;
        g_ethSwitchIoctlId = id;
    }
    PDU_IO_ETH_SWITCH_STATE state{0, kEthActivationPin};
    PDU_DATA_ITEM input{PDU_IT_IO_ETH_SWITCH_STATE, &state};
    uint32_t code = GuardedIoCtl(hMod, id, &input, nullptr);
    LogPrintf("Dpdu_Shutdown: IOCTL SET_ETH_SWITCH_STATE (%u) state=0 hCLL=%u -> %s", id, PDU_HANDLE_UNDEF,
              PduCodeText(code).c_str());
    g_ethSwitchOn = false;
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
