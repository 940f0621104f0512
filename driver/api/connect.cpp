// PassThruConnect and PassThruDisconnect: the checks, the backend brought up on first use, the
// channel's transport (no link, a link of the VCI, software ISO-TP or a DoIP road) and the
// profile's quirks on the new channel.
#include <string>

#include "common/protocols.h"
#include "driver/api/api_impl.h"
#include "driver/api/capture_hooks.h"
#include "driver/api/connect_steps.h"
#include "driver/api/das_profile.h"
#include "driver/api/device.h"
#include "driver/api/last_error.h"
#include "driver/api/link_names.h"
#include "driver/api/periodic.h"
#include "driver/config/driver_config.h"
#include "driver/config/host_profile.h"
#include "driver/dpdu/dpdu_backend.h"
#include "driver/log/log.h"

namespace {
bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

bool IsUnusableResourceId(uint32_t rid) { return rid == 0xFFFFFFFEu || rid == 0xFFFFFFFFu; }

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
    if (j2534::IsCanFdProtocol(protocolId) && !g_config.CanFd.Enable) return refuse("CAN-FD not supported");
    if (kLine) {
        DetectHostProfileLocked();
        const SessionProfile& s = g_device.session;
        if (IsPcmflashCompatActive(s) && !s.PCMflash.AllowKLine) {
            WriteLogLine("[Compat] PCMflash requested K-Line protocol -> rejecting to force CAN");
            return refuse("PCMflash compat: K-Line disabled; use CAN/ISO15765");
        }
    }
    return j2534::STATUS_NOERROR;
}

// The device is open, the profile allows another channel and the protocol may be connected.
int32_t CheckConnect(uint32_t deviceId, uint32_t protocolId, ConnectProfile* profile) {
    int32_t rc = CheckDeviceOpen(deviceId, "PassThruConnect");
    if (rc != j2534::STATUS_NOERROR) return rc;
    *profile = ProfileForThisCall(g_device.session);
    if (!g_device.channels.empty() && profile->pcm && g_device.session.PCMflash.ExclusiveDevice) {
        SetLastErrorText("Device is already in use (single channel enforced)");
        return j2534::ERR_DEVICE_IN_USE;
    }
    return RefuseProtocol(protocolId);
}

ChannelContext NewChannel(uint32_t protocolId, uint32_t flags, uint32_t baudRate, const ConnectProfile& profile) {
    ChannelContext ch;
    ch.channelId = g_device.nextChannelId++;  // consumed even when the connect fails
    ch.protocolId = protocolId;
    ch.flags = flags;
    ch.dataRate = baudRate;
    ch.iso.comParamsEnabled = g_config.ISOTP.EnableComParams;
    if (profile.pcm && !g_device.session.PCMflash.TryIso15765ComParams) {
        ch.iso.comParamsEnabled = false;
        WriteLogLine("PCMflash: ISO15765 ComParams disabled by config");
    }
    if (g_device.session.XentryProfile && !g_config.Xentry.TryIso15765ComParams) {
        ch.iso.comParamsEnabled = false;
        WriteLogLine("XENTRY: ISO15765 ComParams disabled by config");
    }
    ch.canIdInDataFallback = g_config.ISOTP.FallbackCanIdInData;
    ch.kwpOnCan = profile.kwpOnCan;
    return ch;
}

// Dpdu_Init and the module on first use. 0 to go on, else the failure code.
int32_t BringBackendUp() {
    const DpduResult init = InitBackendLocked();
    if (!init.ok()) {
        SetLastErrorText("Dpdu_Init failed: " + init.text);
        return j2534::ERR_FAILED;
    }
    uint32_t module = 0;
    const DpduResult opened = OpenModuleWithRetry(&module);
    if (opened.ok()) {
        AdoptModuleLocked(module);
        return j2534::STATUS_NOERROR;
    }
    SetLastErrorText("Dpdu_OpenModule failed: " + opened.text);
    if (g_config.Bench.BenchEnabled) {
        WriteLogLine("Dpdu_OpenModule: no modules detected; Bench mode enabled => continuing without VCI");
        Dpdu_Shutdown();
        ForgetBackendLocked();
        return j2534::STATUS_NOERROR;
    }
    Dpdu_Shutdown();
    ForgetBackendLocked();
    ReleaseInstanceLock();
    if (opened.status == DpduStatus::DeviceBusy) {
        SetLastErrorText("Device is busy (locked by another application)");
        return j2534::ERR_DEVICE_IN_USE;
    }
    return opened.status == DpduStatus::NoModule ? j2534::ERR_DEVICE_NOT_CONNECTED : j2534::ERR_FAILED;
}

// The backend and its module, as far as the connect needs them. 0 to go on.
int32_t EnsureBackendLocked(const ConnectProfile& profile) {
    if (!g_device.backendInitialized || !Dpdu_IsInitialised()) {
        const int32_t rc = BringBackendUp();
        if (rc != j2534::STATUS_NOERROR) return rc;
    }
    if (profile.pcm && g_device.session.PCMflash.ExclusiveDevice && g_device.backendInitialized &&
        !g_device.moduleConnected) {
        SetLastErrorText("Device is already in use (exclusive)");
        return j2534::ERR_DEVICE_IN_USE;
    }
    if (!g_device.backendInitialized || g_device.moduleConnected || g_config.Bench.BenchEnabled)
        return j2534::STATUS_NOERROR;
    uint32_t module = 0;
    const DpduResult opened = OpenModuleWithRetry(&module);
    if (!opened.ok()) {
        SetLastErrorText("Dpdu_OpenModule failed: " + opened.text);
        return opened.status == DpduStatus::DeviceBusy ? j2534::ERR_DEVICE_IN_USE : j2534::ERR_FAILED;
    }
    g_device.moduleHandle = module;
    g_device.moduleConnected = true;
    return j2534::STATUS_NOERROR;
}

// The logical-link name after the profile overrides; empty = unsupported.
std::string ChooseLinkName(uint32_t protocolId, uint32_t baud, const ConnectProfile& p) {
    std::string name = LinkNameFor(protocolId, baud, g_device.session);
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

// A link of the VCI becomes the channel's transport.
void TakeLink(ChannelContext& ch, uint32_t link, const std::string& name, const char* rawModeLine) {
    ch.link.transport = ChannelTransport::DpduLink;
    ch.link.handle = link;
    ch.linkName = name;
    bool raw = false;
    if (Dpdu_GetLinkRawMode(link, &raw)) {
        ch.link.rawMode = raw;
        LogPrintf(rawModeLine, raw ? 1 : 0);
    }
}

// The link of the VCI. 0 on success, else the failure code with the last error set.
int32_t OpenChannelLink(ChannelContext& ch, std::string name, j2534::ULONG* pChannelID) {
    uint32_t link = 0;
    DpduResult opened = Dpdu_OpenLink(g_device.moduleHandle, name, ch.protocolId, &link);
    if (!opened.ok() && ch.kwpOnCan && name == "Kwp2000CanHS" && g_device.session.PCMflash.FallbackToIso15765 &&
        ch.protocolId == j2534::ISO15765) {
        WriteLogLine("PCMflash: KWP-on-CAN failed; falling back to ISO15765HS");
        name = "ISO15765HS";
        ch.kwpOnCan = false;
        opened = Dpdu_OpenLink(g_device.moduleHandle, name, ch.protocolId, &link);
        if (opened.ok()) WriteLogLine("PCMflash: fallback to ISO15765HS succeeded");
    }
    if (!opened.ok()) {
        *pChannelID = 0;
        std::string text = "Dpdu_OpenLink failed in PassThruConnect: " + opened.text;
        SetLastErrorText(text);
        WriteLogLine(text);
        if (j2534::IsCanFdProtocol(ch.protocolId) && opened.status == DpduStatus::NotSupported)
            return j2534::ERR_INVALID_PROTOCOL_ID;
        return j2534::ERR_FAILED;
    }
    WriteLogLine("Dpdu_OpenLink: using resourceId (wrapper marker)");
    TakeLink(ch, link, name, "PassThruConnect: dpduRawMode=%d");
    return j2534::STATUS_NOERROR;
}

// Moves an ISO 15765 channel onto the raw CAN link when the VCI cannot take the ComParams.
bool RawCanFallback(ChannelContext& ch) {
    std::string rawName = LinkNameFor(j2534::CAN, ch.dataRate, g_device.session);
    if (rawName.empty()) rawName = "CanRawHS";
    if (rawName == ch.linkName) return true;
    const ChannelTransport transport = ch.link.transport;
    Dpdu_CloseLink(ch.link.handle);
    ch.link.handle = 0;
    ch.link.transport = ChannelTransport::None;
    uint32_t link = 0;
    const DpduResult opened = Dpdu_OpenLink(g_device.moduleHandle, rawName, ch.protocolId, &link);
    if (!opened.ok()) {
        std::string text = "ISO15765: RAWCAN fallback failed: " + opened.text;
        WriteLogLine(text);
        SetLastErrorText(text);
        return false;
    }
    TakeLink(ch, link, rawName, "ISO15765: RAWCAN fallback dpduRawMode=%d");
    ch.link.transport = transport;
    LogPrintf("ISO15765: fallback to %s (ComParams unsupported)", rawName.c_str());
    return true;
}

// The VCI takes the ISO 15765 ids of the channel, or the channel gets along without.
bool SetIso15765Ids(ChannelContext& ch, bool generic, bool vwOdis, bool toRawCan) {
    ch.iso.comParamsTried = true;
    uint32_t tx = DasFirstTxId(), rx = DasFirstRxId();
    if (Dpdu_SetIso15765Ids(ch.link.handle, tx, rx)) {
        ch.iso.isoTpIdsSet = true;
        ch.iso.isoTpTxId = tx;
        ch.iso.isoTpRxId = rx;
        return true;
    }
    LogPrintf("Dpdu_SetIso15765Ids failed (tx=0x%lX, rx=0x%lX); continuing without comparams",
              static_cast<unsigned long>(tx), static_cast<unsigned long>(rx));
    ch.iso.comParamsEnabled = false;
    WriteLogLine("ISO15765: disabling ComParam IDs for this channel after failure");
    if (generic && toRawCan) return RawCanFallback(ch);
    if (vwOdis) WriteLogLine("ISO15765: VW/ODIS comparam failure; keeping full frame (no payload-only fallback)");
    return true;
}

// Addressing of an ISO 15765 channel on a link of the VCI. False when the channel fails.
bool SetUpIso15765(ChannelContext& ch, const ConnectProfile& p) {
    const bool generic = g_device.session.Oem == OemKind::Generic;
    const bool vwOdis = g_device.session.Oem == OemKind::VwOdis;
    const bool toRawCan = g_config.ISOTP.FallbackToRawCan;
    if (p.pcm && generic) {
        ch.iso.comParamsEnabled = false;
        WriteLogLine("PCMflash: OpenPort mode -> ISO15765 ComParams disabled (RAWCAN fallback on demand)");
    }
    bool useComParams = ch.iso.comParamsEnabled && (!p.pcm || p.forceIsoTp || ch.kwpOnCan) && !p.rawCan;
    if ((toRawCan || ch.linkName == "CanRawHS") && !vwOdis) {
        ch.link.transport = ChannelTransport::SoftwareIsoTp;
        bool dasIds = p.das && !p.pcm;
        ch.link.swIsoTpTxId = dasIds ? DasFirstTxId() : 0x7E0;
        ch.link.swIsoTpRxId = dasIds ? DasFirstRxId() : 0x7E8;
        WriteLogLine("ISO15765: SW-ISO-TP enabled over RAWCAN");
    }
    if (ch.link.rawMode) return true;

    if (!useComParams) {
        if (generic && toRawCan && (!p.pcm || ch.iso.comParamsTried)) return RawCanFallback(ch);
        WriteLogLine(vwOdis ? "ISO15765: ComParam IDs disabled; keeping full frame (VW/ODIS)"
                            : "ISO15765: ComParam IDs disabled; using full-frame fallback");
        return true;
    }
    return SetIso15765Ids(ch, generic, vwOdis, toRawCan);
}

// A connect that fails after its link was opened leaves no link behind.
void DropChannelLink(ChannelContext& ch) {
    if (!ch.link.OnVci()) return;
    Dpdu_CloseLink(ch.link.handle);
    ch.link.handle = 0;
    ch.link.transport = ChannelTransport::None;
}

// The channel's way to the vehicle. True when the connect ends here with *rc (the channel
// appended or refused); false to go on with the profile's quirks.
bool ConnectTransport(ChannelContext& ch, const std::string& name, const ConnectProfile& profile,
                      j2534::ULONG* pChannelID, int32_t* rc) {
    if (g_config.Bench.BenchEnabled && !g_device.moduleConnected) {
        AppendChannel(ch, pChannelID);
        SetLastErrorText("OK");
        WriteLogLine("PassThruConnect: Bench mode channel created without VCI / link");
        *rc = j2534::STATUS_NOERROR;
        return true;
    }
    if (j2534::IsDoipProtocol(ch.protocolId) && ConnectDoip(ch, pChannelID, rc)) return true;
    *rc = OpenChannelLink(ch, name, pChannelID);
    if (*rc != j2534::STATUS_NOERROR) return true;
    if (ch.protocolId == j2534::ISO15765 && ch.link.OnVci() && !SetUpIso15765(ch, profile)) {
        DropChannelLink(ch);
        *rc = j2534::ERR_FAILED;
        return true;
    }
    return false;
}

// The DAS wake-up and the response filters of the XENTRY and PCMflash profiles.
void ApplyProfileQuirks(ChannelContext& ch, const ConnectProfile& profile) {
    const SessionProfile& s = g_device.session;
    if (profile.das && !s.PcmflashHostDetected && !s.PcmflashProfile && ch.protocolId == j2534::ISO15765 &&
        ch.link.OnVci() && g_device.moduleConnected && !ch.tx.dasWakeSent) {
        InjectDasWakeup(ch, s, g_device.moduleConnected);
        ch.tx.dasWakeSent = true;
    }
    if (ch.protocolId != j2534::ISO15765) return;
    if (s.XentryProfile && g_config.Xentry.InstallIso15765ResponseFilters) {
        InstallDasResponseFilters(ch);
        WriteLogLine("XENTRY: installed ISO15765 response PASS filters");
    } else if (profile.pcm && s.PCMflash.InstallIso15765ResponseFilters) {
        InstallDasResponseFilters(ch);
        WriteLogLine("PCMflash: installed ISO15765 response PASS filters");
    }
}

int32_t ConnectBody(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags, uint32_t BaudRate,
                    j2534::ULONG* pChannelID) {
    if (!pChannelID) return j2534::ERR_NULL_PARAMETER;
    if (BaudRate == 0 && (ProtocolID == j2534::CAN || ProtocolID == j2534::ISO15765 ||
                          ProtocolID == j2534::ISO15765_FD_ALT || ProtocolID == j2534::SCI_A_TRANS)) {
        BaudRate = 500000;
        LogPrintf("PassThruConnect: clamp baud %lu -> %lu", 0ul, 500000ul);
    }
    std::lock_guard<std::mutex> lock(g_deviceLock);
    ConnectProfile profile;
    int32_t rc = CheckConnect(DeviceID, ProtocolID, &profile);
    if (rc != j2534::STATUS_NOERROR) return rc;
    if (Dpdu_IsCommLost()) {
        SetLastErrorText("VCI communication lost");
        HandleCommLostLocked("PassThruConnect");
    }
    ChannelContext ch = NewChannel(ProtocolID, Flags, BaudRate, profile);
    rc = EnsureBackendLocked(profile);
    if (rc != j2534::STATUS_NOERROR) return rc;

    const std::string name = ChooseLinkName(ProtocolID, BaudRate, profile);
    if (name.empty()) {
        SetLastErrorText("Unsupported protocol");
        return j2534::ERR_INVALID_PROTOCOL_ID;
    }
    ch.linkName = name;
    if (ConnectTransport(ch, name, profile, pChannelID, &rc)) return rc;
    ApplyProfileQuirks(ch, profile);
    AppendChannel(ch, pChannelID);
    return j2534::STATUS_NOERROR;
}
}  // namespace

ConnectProfile ProfileForThisCall(const SessionProfile& s) {
    ConnectProfile p;
    const auto& pcmCfg = s.PCMflash;
    p.pcm = IsPcmflashCompatActive(s);
    p.das = s.DasProfile;
    p.rawCan = p.pcm && pcmCfg.ForceRawCan && !p.das;
    p.forceIsoTp = p.pcm && pcmCfg.ForceIsoTp && !p.rawCan && !p.das;
    p.kwpOnCan = p.pcm && pcmCfg.UseKwpOnCan && !p.rawCan && !p.das;
    if (p.das && p.pcm && (pcmCfg.UseKwpOnCan || pcmCfg.ForceRawCan || pcmCfg.ForceIsoTp))
        WriteLogLine("DAS profile: ignoring PCMflash transport overrides");
    return p;
}

void AppendChannel(ChannelContext& ch, j2534::ULONG* pChannelID) {
    *pChannelID = ch.channelId;
    if (CaptureOn()) CaptureChannelConnected(CaptureChannelOf(ch));
    g_device.channels.emplace(ch.channelId, std::move(ch));
}

int32_t PassThruConnectImpl(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags, uint32_t BaudRate,
                            j2534::ULONG* pChannelID) {
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
    auto it = g_device.channels.find(ChannelID);
    if (it == g_device.channels.end()) return j2534::ERR_INVALID_CHANNEL_ID;
    ChannelContext& ch = it->second;
    ch.filters.clear();
    ch.nextFilterId = 1;
    CloseChannelDoip(ch);
    if (ch.link.OnVci()) Dpdu_CloseLink(ch.link.handle);
    g_device.channels.erase(it);
    if (CaptureOn()) CaptureChannelDisconnected(ChannelID);
    return j2534::STATUS_NOERROR;
}
