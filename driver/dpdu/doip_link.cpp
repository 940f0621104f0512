// The DoIP link through the D-PDU module: pre-steps on the module in use, the DoIP resource
// as the module exposes it at run time, and the creation ladder.
#include <string>

#include "driver/config/driver_config.h"
#include "driver/log/log.h"
#include "driver/dpdu/api_table.h"
#include "driver/dpdu/backend_state.h"
#include "driver/dpdu/doip_presteps.h"
#include "driver/dpdu/link_create.h"


namespace {

constexpr uint32_t kBusEthernet = 3;
constexpr uint32_t kPinEthTx = 4;
constexpr uint32_t kPinEthRx = 5;
constexpr uint32_t kPinEthActivation = 7;

// Fills the template in place: its data points at its own pins.
void SetEthernetTemplate(Template* t, std::initializer_list<PDU_PIN_DATA> pins) {
    uint32_t n = 0;
    for (const PDU_PIN_DATA& p : pins) t->pins[n++] = p;
    t->data = {kBusEthernet, 0, n, n ? t->pins : nullptr};
}

// Pre-steps on the link's module, or on the DoIP entity module when the VCI offers one;
// *hMod is the module to use afterwards.
bool RunLinkPreSteps(uint32_t* hMod) {
    bool switched, identified;
    if (g_config.DoIP.LegacyFlow) {
        WriteLogLine("Dpdu_OpenLink: using Legacy DoIP flow (pre-steps enabled)");
        switched = EthSwitchOn(*hMod);
        identified = VehicleIdRequest(*hMod);
    } else {
        uint32_t entity = 0;
        if (OpenDoipEntityModule(&entity)) {
            LogPrintf("Dpdu_OpenLink: using DoIP entity module hMod=%u", entity);
            *hMod = entity;
        }
        switched = EthSwitchOn(*hMod);
        identified = VehicleIdRequest(*hMod);
        if (OpenDoipEntityModule(&entity) && entity != *hMod) {
            LogPrintf("Dpdu_OpenLink: switched to DoIP entity module after Vehicle ID, hMod=%u", entity);
            *hMod = entity;
        }
    }
    return switched && identified;
}

// Asks the module once per process which resource carries DoIP.
void LearnDoipResource(uint32_t hMod, Template* t, uint32_t* id) {
    bool failed = false;
    uint32_t found = DiscoverResourceId(hMod, t, &failed);
    if (found != 0) {
        g_backend.doip.doipState = 1;
        g_backend.doip.doipResourceId = found;
        WriteLogLine("Dpdu_OpenLink: DoIP resource available at runtime");
        if (found != *id) {
            WriteLogLine("Dpdu_OpenLink: DoIP resourceId mismatch with INI; using runtime-discovered id");
            *id = found;
        }
    } else if (!failed) {
        if (!g_config.DoIP.AllowEmptyResourceList) {
            g_backend.doip.doipState = 0;
            WriteLogLine("Dpdu_OpenLink: DoIP resource list empty; treating as not supported");
        }
    } else if (!g_config.DoIP.AllowMissingResourceList) {
        g_backend.doip.doipState = 0;
        WriteLogLine("Dpdu_OpenLink: DoIP resource not exposed at runtime");
    }
}

uint32_t CreateWithDoipLadder(CreateContext* ctx, uint32_t id, uint32_t* usedId) {
    const auto& d = g_config.DoIP;
    const bool trx = CurrentBackendType() == BackendType::TRX4820;
    *usedId = id;
    uint32_t result = TryCreateLink(ctx, id, d.UseRscDataWithResourceId && !trx);
    if (result == PDU_ERR_INVALID_PARAMETERS && trx && !d.LegacyFlow) result = TryCreateLink(ctx, id, false);
    if (result == PDU_ERR_INVALID_PARAMETERS && d.UseRscDataFallback) {
        *usedId = 0;
        result = TryCreateLink(ctx, 0, true);
        if (trx) {
            // Other pin sets a TRX4820 MDF may describe the Ethernet resource with.
            Template alternatives[3];
            SetEthernetTemplate(&alternatives[0], {{3, kPinEthRx}, {11, kPinEthRx}, {12, kPinEthTx}, {13, kPinEthTx}});
            SetEthernetTemplate(&alternatives[1], {{3, kPinEthRx}, {12, kPinEthTx}, {8, kPinEthActivation}});
            SetEthernetTemplate(&alternatives[2], {});
            for (Template& alternative : alternatives) {
                if (result != PDU_ERR_INVALID_PARAMETERS) break;
                ctx->tmpl = &alternative;
                result = TryCreateLink(ctx, 0, true);
            }
        }
    }
    if (d.LegacyFlow && trx) WriteLogLine("Dpdu_OpenLink: DoIP strict mode - HS-CAN fallback disabled");
    return result;
}

}  // namespace

bool CreateDoipLink(uint32_t* hMod, uint32_t configuredId, uint8_t* flagData, uint32_t* hCLL, uint32_t* usedId,
                    std::string* error) {
    const auto& d = g_config.DoIP;
    if (!RunLinkPreSteps(hMod)) {
        *error = "DoIP not ready (ETH switch/vehicle ID pre-steps failed)";
        return false;
    }
    Template doip;
    SetEthernetTemplate(&doip, {{3, kPinEthRx}, {12, kPinEthTx}});
    WriteLogLine("Dpdu_OpenLink: RID_UNDEF pins: [3:5] [12:4]");
    uint32_t id = configuredId;
    if (g_backend.doip.doipState.load() == -1) LearnDoipResource(*hMod, &doip, &id);
    if (g_backend.doip.doipState.load() == 0) {
        *error = "DoIP not supported (resource not exposed at runtime)";
        return false;
    }
    const uint32_t learnt = g_backend.doip.doipResourceId.load();
    if (g_backend.doip.doipState.load() == 1 && learnt != 0 && learnt != id) {
        WriteLogLine("Dpdu_OpenLink: overriding DoIP resourceId with runtime-discovered id");
        id = learnt;
    }
    const bool trx = CurrentBackendType() == BackendType::TRX4820;
    CreateContext ctx{*hMod, &doip, flagData, d.AllowCreateAltRetry && !(d.LegacyFlow && trx)};
    uint32_t result = CreateWithDoipLadder(&ctx, id, usedId);
    if (result == PDU_ERR_INVALID_PARAMETERS) {
        g_backend.doip.doipState = 0;
        *error = "DoIP link rejected by backend (invalid parameters). Check cable/profile/DoIP availability.";
        return false;
    }
    if (result != PDU_STATUS_NOERROR) {
        g_backend.doip.doipState = 0;
        *error = "DoIP link rejected by backend (error " + PduCodeText(result) + ")";
        return false;
    }
    if (g_backend.doip.doipState.load() != 1) WriteLogLine("Dpdu_OpenLink: DoIP link created; marking DoIP available");
    g_backend.doip.doipState = 1;
    g_backend.doip.doipResourceId = *usedId;
    *hCLL = ctx.hCLL;
    return true;
}


