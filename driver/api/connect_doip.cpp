// The DoIP roads of PassThruConnect: NoEcu mode's channel without a link, DirectDoIP (the VCI's
// Ethernet switch and vehicle identification, then the driver's own client) and NativeDoIP (the
// driver's own client over the PC's network), with their fallbacks to the VCI's DoIP link.
#include <memory>
#include <string>

#include "driver/api/connect_steps.h"
#include "driver/api/device.h"
#include "driver/api/last_error.h"
#include "driver/config/driver_config.h"
#include "driver/doip/doip_client.h"
#include "driver/dpdu/dpdu_backend.h"
#include "driver/log/log.h"

namespace {

const char* Flag(bool on) { return on ? "1" : "0"; }

const char* OrEmpty(const std::string& text) { return text.empty() ? "(empty)" : text.c_str(); }

DoipConfig DoipConfigFor(const char* name) {
    const auto& d = g_config.DoIP;
    DoipConfig c;
    c.targetIp = d.NativeTargetIp;
    c.bindIp = d.NativeBindIp;
    c.discoveryBroadcast = d.DiscoveryBroadcast.empty() ? d.DiscoveryAddress : d.DiscoveryBroadcast;
    c.discoveryUnicast = d.DiscoveryUnicast;
    c.discoveryTimeoutMs = d.DiscoveryTimeoutMs;
    c.targetPort = d.NativeTargetPort;
    c.sourceAddress = d.NativeSrc;
    c.targetAddress = d.NativeDst;
    c.activationType = d.NativeRA;
    c.doRoutingActivation = d.DoRA;
    c.useRaEntityAddress = d.UseRaEntity;
    c.tag = name;
    return c;
}

// The Ethernet switch and vehicle identification before DirectDoIP. False with *rc when the
// connect ends here.
bool DirectPreSteps(bool fallback, j2534::ULONG* pChannelID, int32_t* rc) {
    if (!g_config.DoIP.SwitchFirst) {
        WriteLogLine("PassThruConnect: DirectDoIP pre-steps skipped (SwitchFirst=0)");
        return true;
    }
    std::string text;
    if (g_device.moduleConnected) {
        WriteLogLine("PassThruConnect: DirectDoIP pre-steps (ETH switch / Vehicle ID)");
        const DpduResult steps = Dpdu_RunDoipPreSteps(g_device.moduleHandle);
        if (steps.ok()) return true;
        text = steps.text;
        WriteLogLine("PassThruConnect: DirectDoIP pre-steps failed: " + text);
        if (text.empty()) text = "DirectDoIP pre-steps failed";
    } else {
        WriteLogLine("PassThruConnect: DirectDoIP pre-steps skipped (no module connected)");
        text = "DirectDoIP requires module for ETH switch";
    }
    if (fallback) return true;
    *pChannelID = 0;
    SetLastErrorText(text);
    *rc = j2534::ERR_FAILED;
    return false;
}

struct DoipRoad {
    bool direct = false;
    bool native = false;
    const char* mode = "Auto";
};

// False when the configuration leaves DoIP to the VCI's link.
bool ChooseRoad(DoipRoad* road) {
    const auto& d = g_config.DoIP;
    road->direct = d.DirectDoIP;
    road->native = d.NativeDoIP;
    if (g_config.DoipMode == DriverConfig::DoipModeKind::Direct) {
        road->direct = true;
        road->native = false;
        road->mode = "Direct";
    } else if (g_config.DoipMode == DriverConfig::DoipModeKind::Backend) {
        WriteLogLine("PassThruConnect: DoIP Mode=Backend (using D-PDU OpenLink)");
        return false;
    }
    return road->direct || road->native;
}

void LogRoad(const DoipRoad& road, bool fallback) {
    const auto& d = g_config.DoIP;
    LogPrintf("DoIP config: ini=%s mode=%s direct=%s native=%s discovery=%s targetIp=%s bindIp=%s switchFirst=%s "
              "fallback=%s",
              g_config.IniPath.empty() ? "(unknown)" : g_config.IniPath.c_str(), road.mode, Flag(d.DirectDoIP),
              Flag(d.NativeDoIP), Flag(d.Discovery), OrEmpty(d.NativeTargetIp), OrEmpty(d.NativeBindIp),
              Flag(d.SwitchFirst), Flag(fallback));
}

// The driver's own client. True when the connect ends here with *rc.
bool ConnectClient(ChannelContext& ch, const std::string& name, const DoipConfig& cfg, bool fallback,
                   j2534::ULONG* pChannelID, int32_t* rc) {
    LogPrintf("PassThruConnect: %s connecting to %s:%u", name.c_str(), cfg.targetIp.c_str(), cfg.targetPort);
    DoipClient* client = nullptr;
    std::string error;
    if (DoipConnect(cfg, &client, &error)) {
        ch.link.transport = ChannelTransport::NativeDoip;
        // A reader holding a copy of the channel keeps the client until it is done with it.
        ch.link.doip = std::shared_ptr<DoipClient>(client, DoipClose);
        AppendChannel(ch, pChannelID);
        SetLastErrorText("OK");
        WriteLogLine("PassThruConnect: " + name + " connected");
        *rc = j2534::STATUS_NOERROR;
        return true;
    }
    WriteLogLine("PassThruConnect: " + name + " failed: " + error);
    if (fallback) {
        WriteLogLine("PassThruConnect: " + name + " fallback enabled; continuing with D-PDU");
        return false;
    }
    SetLastErrorText(error.empty() ? name + " connect failed" : error);
    *rc = j2534::ERR_FAILED;
    return true;
}

}  // namespace

bool ConnectDoip(ChannelContext& ch, j2534::ULONG* pChannelID, int32_t* rc) {
    if (g_device.session.NoEcuMode) {
        AppendChannel(ch, pChannelID);
        SetLastErrorText("OK");
        WriteLogLine("PassThruConnect: NoEcuMode DoIP link skipped; channel created without link");
        *rc = j2534::STATUS_NOERROR;
        return true;
    }
    DoipRoad road;
    if (!ChooseRoad(&road)) return false;
    const auto& d = g_config.DoIP;
    const bool fallback = road.direct ? d.DirectDoIPFallback : d.FallbackEnabled;
    LogRoad(road, fallback);
    const std::string name = road.direct ? "DirectDoIP" : "NativeDoIP";
    LogPrintf("PassThruConnect: DoIP connect requested (proto=0x%lX): choosing %s",
              static_cast<unsigned long>(ch.protocolId), name.c_str());
    if (road.direct && !DirectPreSteps(fallback, pChannelID, rc)) return true;

    WriteLogLine("Dpdu_OpenLink: bypassed (" + name + ")");
    const DoipConfig cfg = DoipConfigFor(name.c_str());
    if (road.direct && cfg.targetIp.empty() && !d.Discovery) {
        SetLastErrorText("DirectDoIP requires TargetIp when Discovery=0");
        WriteLogLine("PassThruConnect: DirectDoIP failed: TargetIp is empty and Discovery=0");
        *rc = j2534::ERR_FAILED;
        return true;
    }
    return ConnectClient(ch, name, cfg, fallback, pChannelID, rc);
}
