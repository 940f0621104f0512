// PassThruConnect and PassThruDisconnect.
#include <string>

#include "common/protocols.h"
#include "driver/api/api_impl.h"
#include "driver/api/das_profile.h"
#include "driver/api/device.h"
#include "driver/api/last_error.h"
#include "driver/api/link_names.h"
#include "driver/api/periodic.h"
#include "driver/config/driver_config.h"
#include "driver/config/host_profile.h"
#include "driver/log/log.h"
#include "driver/doip/doip_client.h"
#include "driver/dpdu/dpdu_backend.h"

namespace {
bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

bool IsUnusableResourceId(uint32_t rid) { return rid == 0xFFFFFFFEu || rid == 0xFFFFFFFFu; }

// Profile flags of one connect call.
struct ConnectProfile {
    bool pcm = false;
    bool das = false;
    bool rawCan = false;
    bool forceIsoTp = false;
    bool kwpOnCan = false;
};

ConnectProfile ProfileForThisCall() {
    ConnectProfile p;
    const auto& pcmCfg = g_config.PCMflash;
    p.pcm = IsPcmflashCompatActive();
    p.das = g_config.DasProfile;
    p.rawCan = p.pcm && pcmCfg.ForceRawCan && !p.das;
    p.forceIsoTp = p.pcm && pcmCfg.ForceIsoTp && !p.rawCan && !p.das;
    p.kwpOnCan = p.pcm && pcmCfg.UseKwpOnCan && !p.rawCan && !p.das;
    if (p.das && p.pcm && (pcmCfg.UseKwpOnCan || pcmCfg.ForceRawCan || pcmCfg.ForceIsoTp))
        WriteLogLine("DAS profile: ignoring PCMflash transport overrides");
    return p;
}

// 0 when the protocol may be connected, else the refusal code with the last error set.
int32_t RefuseProtocol(uint32_t protocolId) {
    auto refuse = [](const char* text) {
        SetLastErrorText(text);
        return j2534::ERR_INVALID_PROTOCOL_ID;
    };
    switch (protocolId) {
        case j2534::J1850VPW:
        case j2534::J1850PWM: return refuse("Unsupported protocol (J1850) (not implemented)");
        case j2534::SCI_A_ENGINE:
        case j2534::SCI_A_TRANS:
        case j2534::SCI_B_ENGINE:
        case j2534::SCI_B_TRANS: return refuse("Unsupported protocol (SCI) (not implemented)");
        default: break;
    }
    const bool doip = j2534::IsDoipProtocol(protocolId);
    const bool kLine = j2534::IsKLineProtocol(protocolId);
    if (doip && IsUnusableResourceId(g_config.ResourceIds.DoIP))
        return refuse("DoIP not supported (no valid resource id)");
    if (kLine && IsUnusableResourceId(g_config.ResourceIds.KLine))
        return refuse("K-Line not supported (no valid resource id)");
    if ((protocolId == j2534::ISO15765_FD_ALT || protocolId == j2534::CAN_FD || protocolId == j2534::ISO15765_FD) &&
        !g_config.CanFd.Enable)
        return refuse("CAN-FD not supported");
    if (kLine) {
        DetectHostProfile();
        if (IsPcmflashCompatActive() && !g_config.PCMflash.AllowKLine) {
            WriteLogLine("[Compat] PCMflash requested K-Line protocol -> rejecting to force CAN");
            return refuse("PCMflash compat: K-Line disabled; use CAN/ISO15765");
        }
    }
    return j2534::STATUS_NOERROR;
}

// Step 9: Dpdu_Init and the module on first use. 0 to go on, else the failure code.
int32_t BringBackendUp() {
    std::string error;
    if (!InitBackendLocked(&error)) {
        SetLastErrorText("Dpdu_Init failed: " + error);
        return j2534::ERR_FAILED;
    }
    uint32_t module = 0;
    if (OpenModuleWithRetry(&module, &error)) {
        AdoptModuleLocked(module);
        return j2534::STATUS_NOERROR;
    }
    SetLastErrorText("Dpdu_OpenModule failed: " + error);
    if (g_config.Bench.BenchEnabled) {
        WriteLogLine("Dpdu_OpenModule: no modules detected; Bench mode enabled => continuing without VCI");
        Dpdu_Shutdown();
        ForgetBackendLocked();
        return j2534::STATUS_NOERROR;
    }
    Dpdu_Shutdown();
    ForgetBackendLocked();
    ReleaseInstanceLock();
    if (IsLockDeviceFailure(error)) {
        SetLastErrorText("Device is busy (locked by another application)");
        return j2534::ERR_DEVICE_IN_USE;
    }
    if (Contains(error, "no modules") || Contains(error, "PDUGetModuleIds") || Contains(error, "no modules available"))
        return j2534::ERR_DEVICE_NOT_CONNECTED;
    return j2534::ERR_FAILED;
}

// Step 11: the logical-link name after the profile overrides; empty = unsupported.
std::string ChooseLinkName(uint32_t protocolId, uint32_t baud, const ConnectProfile& p) {
    std::string name = LinkNameFor(protocolId, baud);
    if (name.empty()) return name;
    bool isoFd = protocolId == j2534::ISO15765_FD_ALT || protocolId == j2534::ISO15765_FD;
    if (p.rawCan && protocolId == j2534::ISO15765) {
        name = "CanRawHS";
    } else if (p.rawCan && isoFd) {
        name = "CanFDHS";
    } else if (p.forceIsoTp && protocolId == j2534::ISO15765) {
        name = "ISO15765HS";
    } else if (p.forceIsoTp && isoFd) {
        name = "ISO15765FDHS";
    } else if (p.kwpOnCan && protocolId == j2534::ISO15765) {
        name = "Kwp2000CanHS";
    } else if (p.das && protocolId == j2534::ISO15765) {
        name = "ISO15765HS";
        WriteLogLine(p.pcm ? "PCMflash: forcing logical link ISO15765HS (preferred)"
                           : "DAS profile: forcing logical link ISO15765HS");
    } else if (p.pcm && protocolId == j2534::ISO15765) {
        name = "ISO15765HS";
        WriteLogLine("PCMflash: forcing logical link ISO15765HS (preferred)");
    }
    if (j2534::IsCanFdProtocol(protocolId) && !Contains(name, "CANFD") && !Contains(name, "15765FD"))
        name = isoFd ? "ISO15765FDHS" : "CanFDHS";
    LogPrintf("PassThruConnect: using logical link '%s'", name.c_str());
    return name;
}

// Step 14: the D-PDU link. 0 on success, else the failure code with the last error set.
int32_t OpenChannelLink(ChannelContext& ch, std::string name, uint32_t* pChannelID) {
    std::string error;
    uint32_t link = 0;
    bool ok = Dpdu_OpenLink(g_device.moduleHandle, name, ch.protocolId, &link, &error);
    if (!ok && ch.kwpOnCan && name == "Kwp2000CanHS" && g_config.PCMflash.FallbackToIso15765 &&
        ch.protocolId == j2534::ISO15765) {
        WriteLogLine("PCMflash: KWP-on-CAN failed; falling back to ISO15765HS");
        name = "ISO15765HS";
        ch.kwpOnCan = false;
        ok = Dpdu_OpenLink(g_device.moduleHandle, name, ch.protocolId, &link, &error);
        if (ok) WriteLogLine("PCMflash: fallback to ISO15765HS succeeded");
    }
    if (!ok) {
        *pChannelID = 0;
        std::string text = "Dpdu_OpenLink failed in PassThruConnect: " + error;
        SetLastErrorText(text);
        WriteLogLine(text);
        if (j2534::IsCanFdProtocol(ch.protocolId) && Contains(error, "CAN-FD not supported"))
            return j2534::ERR_INVALID_PROTOCOL_ID;
        return j2534::ERR_FAILED;
    }
    ch.linkHandle = link;
    ch.linkName = name;
    WriteLogLine("Dpdu_OpenLink: using resourceId (wrapper marker)");
    bool raw = false;
    if (Dpdu_GetLinkRawMode(link, &raw)) {
        ch.dpduRawMode = raw;
        LogPrintf("PassThruConnect: dpduRawMode=%s", raw ? "1" : "0");
    }
    return j2534::STATUS_NOERROR;
}

// Moves an ISO 15765 channel onto the raw CAN link when the VCI cannot take the ComParams.
bool RawCanFallback(ChannelContext& ch) {
    std::string rawName = LinkNameFor(j2534::CAN, ch.dataRate);
    if (rawName.empty()) rawName = "CanRawHS";
    if (rawName == ch.linkName) return true;
    std::string error;
    Dpdu_CloseLink(ch.linkHandle, &error);
    ch.linkHandle = 0;
    uint32_t link = 0;
    if (!Dpdu_OpenLink(g_device.moduleHandle, rawName, ch.protocolId, &link, &error)) {
        std::string text = "ISO15765: RAWCAN fallback failed: " + error;
        WriteLogLine(text);
        SetLastErrorText(text);
        return false;
    }
    ch.linkHandle = link;
    ch.linkName = rawName;
    bool raw = false;
    if (Dpdu_GetLinkRawMode(link, &raw)) {
        ch.dpduRawMode = raw;
        LogPrintf("ISO15765: RAWCAN fallback dpduRawMode=%d", raw ? 1 : 0);
    }
    LogPrintf("ISO15765: fallback to %s (ComParams unsupported)", rawName.c_str());
    return true;
}

// Step 15: addressing of an ISO 15765 channel on a D-PDU link. False when the channel fails.
bool SetUpIso15765(ChannelContext& ch, const ConnectProfile& p) {
    bool generic = g_oemKind == OemKind::Generic;
    bool vwOdis = g_oemKind == OemKind::VwOdis;
    bool toRawCan = g_config.ISOTP.FallbackToRawCan;
    if (p.pcm && generic) {
        ch.comParamsEnabled = false;
        WriteLogLine("PCMflash: OpenPort mode -> ISO15765 ComParams disabled (RAWCAN fallback on demand)");
    }
    bool useComParams = ch.comParamsEnabled && (!p.pcm || p.forceIsoTp || ch.kwpOnCan) && !p.rawCan;
    if ((toRawCan || ch.linkName == "CanRawHS") && !vwOdis) {
        ch.swIsoTp = true;
        bool dasIds = p.das && !p.pcm;
        ch.swIsoTpTxId = dasIds ? DasFirstTxId() : 0x7E0;
        ch.swIsoTpRxId = dasIds ? DasFirstRxId() : 0x7E8;
        WriteLogLine("ISO15765: SW-ISO-TP enabled over RAWCAN");
    }
    if (ch.dpduRawMode) return true;

    if (!useComParams) {
        if (generic && toRawCan && (!p.pcm || ch.comParamsTried)) return RawCanFallback(ch);
        WriteLogLine(vwOdis ? "ISO15765: ComParam IDs disabled; keeping full frame (VW/ODIS)"
                            : "ISO15765: ComParam IDs disabled; using full-frame fallback");
        return true;
    }
    ch.comParamsTried = true;
    uint32_t tx = DasFirstTxId(), rx = DasFirstRxId();
    if (Dpdu_SetIso15765Ids(ch.linkHandle, tx, rx)) {
        ch.isoTpIdsSet = true;
        ch.isoTpTxId = tx;
        ch.isoTpRxId = rx;
        return true;
    }
    LogPrintf("Dpdu_SetIso15765Ids failed (tx=0x%lX, rx=0x%lX); continuing without comparams",
              static_cast<unsigned long>(tx), static_cast<unsigned long>(rx));
    ch.comParamsEnabled = false;
    WriteLogLine("ISO15765: disabling ComParam IDs for this channel after failure");
    if (generic && toRawCan) return RawCanFallback(ch);
    if (vwOdis) WriteLogLine("ISO15765: VW/ODIS comparam failure; keeping full frame (no payload-only fallback)");
    return true;
}

// A connect that fails after its link was opened leaves no link behind.
void DropChannelLink(ChannelContext& ch) {
    if (ch.linkHandle == 0) return;
    std::string error;
    Dpdu_CloseLink(ch.linkHandle, &error);
    ch.linkHandle = 0;
}

const char* Flag(bool on) { return on ? "1" : "0"; }

const char* OrEmpty(const std::string& text) { return text.empty() ? "(empty)" : text.c_str(); }

void AppendChannel(ChannelContext& ch, uint32_t* pChannelID) {
    *pChannelID = ch.channelId;
    g_device.channels.push_back(std::move(ch));
}

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
bool DirectPreSteps(bool fallback, uint32_t* pChannelID, int32_t* rc) {
    if (!g_config.DoIP.SwitchFirst) {
        WriteLogLine("PassThruConnect: DirectDoIP pre-steps skipped (SwitchFirst=0)");
        return true;
    }
    std::string text;
    if (g_device.moduleConnected) {
        WriteLogLine("PassThruConnect: DirectDoIP pre-steps (ETH switch / Vehicle ID)");
        if (Dpdu_RunDoipPreSteps(g_device.moduleHandle, &text)) return true;
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

// Step 13: the DoIP roads. True when the connect ends here with *rc; false to go on with
// the D-PDU link.
bool ConnectDoip(ChannelContext& ch, uint32_t* pChannelID, int32_t* rc) {
    const auto& d = g_config.DoIP;
    if (g_config.Bench.NoEcuMode) {
        AppendChannel(ch, pChannelID);
        SetLastErrorText("OK");
        WriteLogLine("PassThruConnect: NoEcuMode DoIP link skipped; channel created without link");
        *rc = j2534::STATUS_NOERROR;
        return true;
    }
    bool direct = d.DirectDoIP;
    bool native = d.NativeDoIP;
    const char* mode = "Auto";
    if (g_config.DoipMode == DriverConfig::DoipModeKind::Direct) {
        direct = true;
        native = false;
        mode = "Direct";
    } else if (g_config.DoipMode == DriverConfig::DoipModeKind::Backend) {
        WriteLogLine("PassThruConnect: DoIP Mode=Backend (using D-PDU OpenLink)");
        return false;
    }
    if (!direct && !native) return false;
    const bool fallback = direct ? d.DirectDoIPFallback : d.FallbackEnabled;
    LogPrintf("DoIP config: ini=%s mode=%s direct=%s native=%s discovery=%s targetIp=%s bindIp=%s switchFirst=%s "
              "fallback=%s",
              g_config.IniPath.empty() ? "(unknown)" : g_config.IniPath.c_str(), mode, Flag(d.DirectDoIP),
              Flag(d.NativeDoIP), Flag(d.Discovery), OrEmpty(d.NativeTargetIp), OrEmpty(d.NativeBindIp),
              Flag(d.SwitchFirst), Flag(fallback));
    const std::string name = direct ? "DirectDoIP" : "NativeDoIP";
    LogPrintf("PassThruConnect: DoIP connect requested (proto=0x%lX): choosing %s",
              static_cast<unsigned long>(ch.protocolId), name.c_str());
    if (direct && !DirectPreSteps(fallback, pChannelID, rc)) return true;

    WriteLogLine("Dpdu_OpenLink: bypassed (" + name + ")");
    DoipConfig cfg = DoipConfigFor(name.c_str());
    if (direct && cfg.targetIp.empty() && !d.Discovery) {
        SetLastErrorText("DirectDoIP requires TargetIp when Discovery=0");
        WriteLogLine("PassThruConnect: DirectDoIP failed: TargetIp is empty and Discovery=0");
        *rc = j2534::ERR_FAILED;
        return true;
    }
    LogPrintf("PassThruConnect: %s connecting to %s:%u", name.c_str(), cfg.targetIp.c_str(), cfg.targetPort);
    DoipClient* client = nullptr;
    std::string error;
    if (DoipConnect(cfg, &client, &error)) {
        ch.kind = 1;
        // A reader holding a copy of the channel keeps the client until it is done with it.
        ch.doip = std::shared_ptr<DoipClient>(client, DoipClose);
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

int32_t ConnectBody(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags, uint32_t BaudRate,
                    uint32_t* pChannelID) {
    if (!pChannelID) return j2534::ERR_NULL_PARAMETER;
    if (BaudRate == 0 && (ProtocolID == j2534::CAN || ProtocolID == j2534::ISO15765 ||
                          ProtocolID == j2534::ISO15765_FD_ALT || ProtocolID == j2534::SCI_A_TRANS)) {
        BaudRate = 500000;
        LogPrintf("PassThruConnect: clamp baud %lu -> %lu", 0ul, 500000ul);
    }
    std::lock_guard<std::mutex> lock(g_deviceLock);
    int32_t rc = CheckDeviceOpen(DeviceID, "PassThruConnect");
    if (rc != j2534::STATUS_NOERROR) return rc;

    ConnectProfile profile = ProfileForThisCall();
    if (!g_device.channels.empty() && profile.pcm && g_config.PCMflash.ExclusiveDevice) {
        SetLastErrorText("Device is already in use (single channel enforced)");
        return j2534::ERR_DEVICE_IN_USE;
    }
    rc = RefuseProtocol(ProtocolID);
    if (rc != j2534::STATUS_NOERROR) return rc;

    if (Dpdu_IsCommLost()) {
        SetLastErrorText("VCI communication lost");
        HandleCommLostLocked("PassThruConnect");
    }

    ChannelContext ch;
    ch.channelId = g_device.nextChannelId++;  // consumed even when the connect fails
    ch.protocolId = ProtocolID;
    ch.flags = Flags;
    ch.dataRate = BaudRate;
    ch.comParamsEnabled = g_config.ISOTP.EnableComParams;
    if (profile.pcm && !g_config.PCMflash.TryIso15765ComParams) {
        ch.comParamsEnabled = false;
        WriteLogLine("PCMflash: ISO15765 ComParams disabled by config");
    }
    if (g_config.XentryProfile && !g_config.Xentry.TryIso15765ComParams) {
        ch.comParamsEnabled = false;
        WriteLogLine("XENTRY: ISO15765 ComParams disabled by config");
    }
    ch.canIdInDataFallback = g_config.ISOTP.FallbackCanIdInData;
    ch.kwpOnCan = profile.kwpOnCan;

    if (!g_device.backendInitialized || !Dpdu_IsInitialised()) {
        rc = BringBackendUp();
        if (rc != j2534::STATUS_NOERROR) return rc;
    }
    bool bench = g_config.Bench.BenchEnabled;
    if (profile.pcm && g_config.PCMflash.ExclusiveDevice && g_device.backendInitialized &&
        !g_device.moduleConnected) {
        SetLastErrorText("Device is already in use (exclusive)");
        return j2534::ERR_DEVICE_IN_USE;
    }
    if (g_device.backendInitialized && !g_device.moduleConnected && !bench) {
        uint32_t module = 0;
        std::string error;
        if (!OpenModuleWithRetry(&module, &error)) {
            SetLastErrorText("Dpdu_OpenModule failed: " + error);
            return IsLockDeviceFailure(error) ? j2534::ERR_DEVICE_IN_USE : j2534::ERR_FAILED;
        }
        g_device.moduleHandle = module;
        g_device.moduleConnected = true;
    }

    std::string name = ChooseLinkName(ProtocolID, BaudRate, profile);
    if (name.empty()) {
        SetLastErrorText("Unsupported protocol");
        return j2534::ERR_INVALID_PROTOCOL_ID;
    }
    ch.linkName = name;

    if (bench && !g_device.moduleConnected) {
        AppendChannel(ch, pChannelID);
        SetLastErrorText("OK");
        WriteLogLine("PassThruConnect: Bench mode channel created without VCI / link");
        return j2534::STATUS_NOERROR;
    }
    if (j2534::IsDoipProtocol(ProtocolID) && ConnectDoip(ch, pChannelID, &rc)) return rc;

    rc = OpenChannelLink(ch, name, pChannelID);
    if (rc != j2534::STATUS_NOERROR) return rc;

    if (ProtocolID == j2534::ISO15765 && ch.linkHandle != 0 && !SetUpIso15765(ch, profile)) {
        DropChannelLink(ch);
        return j2534::ERR_FAILED;
    }

    if (profile.das && !g_config.PcmflashHostDetected && !g_config.PcmflashProfile &&
        ProtocolID == j2534::ISO15765 && ch.linkHandle != 0 && g_device.moduleConnected && !ch.dasWakeSent) {
        InjectDasWakeup(ch, g_device.moduleConnected);
        ch.dasWakeSent = true;
    }

    if (ProtocolID == j2534::ISO15765) {
        if (g_config.XentryProfile && g_config.Xentry.InstallIso15765ResponseFilters) {
            InstallDasResponseFilters(ch);
            WriteLogLine("XENTRY: installed ISO15765 response PASS filters");
        } else if (profile.pcm && g_config.PCMflash.InstallIso15765ResponseFilters) {
            InstallDasResponseFilters(ch);
            WriteLogLine("PCMflash: installed ISO15765 response PASS filters");
        }
    }

    AppendChannel(ch, pChannelID);
    return j2534::STATUS_NOERROR;
}
}  // namespace

int32_t PassThruConnectImpl(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags, uint32_t BaudRate,
                            uint32_t* pChannelID) {
    LogPrintf("=== START proto=0x%lX baud=%lu ===", static_cast<unsigned long>(ProtocolID),
              static_cast<unsigned long>(BaudRate));
    LogPrintf("PassThruConnect: devId=%lu proto=0x%lX flags=0x%lX baud=%lu", static_cast<unsigned long>(DeviceID),
              static_cast<unsigned long>(ProtocolID), static_cast<unsigned long>(Flags),
              static_cast<unsigned long>(BaudRate));
    int32_t rc = j2534::ERR_FAILED;
    try {
        rc = ConnectBody(DeviceID, ProtocolID, Flags, BaudRate, pChannelID);
    } catch (...) {
        LogPrintf("=== END rc=%ld ===", static_cast<long>(j2534::ERR_FAILED));
        throw;
    }
    LogPrintf("=== END rc=%ld ===", static_cast<long>(rc));
    return rc;
}

int32_t PassThruDisconnectImpl(uint32_t ChannelID) {
    WriteLogLine("PassThruDisconnect");
    std::unique_lock<std::mutex> lock(g_deviceLock);
    int32_t rc = CheckDeviceOpen(0, "PassThruDisconnect");
    if (rc != j2534::STATUS_NOERROR) return rc;
    EndPeriodicMsgsLocked(lock, ChannelID);
    for (auto it = g_device.channels.begin(); it != g_device.channels.end(); ++it) {
        if (it->channelId != ChannelID) continue;
        it->filters.clear();
        it->nextFilterId = 1;
        CloseChannelDoip(*it);
        if (it->linkHandle != 0) {
            std::string error;
            Dpdu_CloseLink(it->linkHandle, &error);
            it->linkHandle = 0;
        }
        g_device.channels.erase(it);
        return j2534::STATUS_NOERROR;
    }
    return j2534::ERR_INVALID_CHANNEL_ID;
}
