#include "driver/api/device.h"

#include "common/j2534.h"
#include "driver/api/last_error.h"
#include "driver/config/driver_config.h"
#include "driver/config/host_profile.h"
#include "driver/log/log.h"
#include "driver/doip/doip_client.h"
#include "driver/dpdu/dpdu_backend.h"
#include "platform/platform.h"

DeviceContext g_device;
std::mutex g_deviceLock;

void ForgetBackendLocked() {
    g_device.backendInitialized = false;
    g_device.moduleConnected = false;
    g_device.moduleHandle = 0;
}

DpduResult InitBackendLocked() {
    DpduResult result = Dpdu_Init();
    if (!result.ok()) return result;
    WriteLogLine("Dpdu_Init: marker dpdu_init");
    WriteLogLine("PDUConstruct returned (wrapper marker)");
    g_device.backendInitialized = true;
    return result;
}

void AdoptModuleLocked(uint32_t moduleHandle) {
    g_device.moduleHandle = moduleHandle;
    g_device.moduleConnected = true;
    WriteLogLine("ModuleConnect OK (wrapper marker)");
}

int32_t CheckDeviceOpen(uint32_t deviceId, const char* callerName) {
    if (!g_device.isOpen) {
        SetLastErrorText("Device not open.");
        if (callerName) LogPrintf("%s: device not open", callerName);
        return j2534::ERR_DEVICE_NOT_CONNECTED;
    }
    if (deviceId == 0 || deviceId == g_device.deviceId) return j2534::STATUS_NOERROR;
    return j2534::ERR_INVALID_DEVICE_ID;
}

ChannelContext* FindChannel(uint32_t channelId) {
    auto it = g_device.channels.find(channelId);
    return it == g_device.channels.end() ? nullptr : &it->second;
}

bool CopyChannelState(uint32_t channelId, ChannelState* copy) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    const ChannelContext* live = FindChannel(channelId);
    if (!live) return false;
    *copy = *live;
    return true;
}

void WriteBackChannelState(const ChannelTxRecords& before, const ChannelState& after) {
    // Only the records this call changed: another thread may have changed the rest meanwhile.
    const bool isoChanged = after.iso != before.iso;
    const bool txChanged = after.tx != before.tx;
    if (!isoChanged && !txChanged) return;
    std::lock_guard<std::mutex> lock(g_deviceLock);
    ChannelContext* live = FindChannel(after.channelId);
    if (!live) return;
    if (isoChanged) live->iso = after.iso;
    if (txChanged) live->tx = after.tx;
}

Iso15765Link Iso15765LinkOf(const ChannelState& ch) {
    Iso15765Link link;
    link.protocolId = ch.protocolId;
    link.rawMode = ch.link.rawMode;
    link.softwareIsoTp = ch.link.transport == ChannelTransport::SoftwareIsoTp;
    link.canIdInDataFallback = ch.canIdInDataFallback;
    link.kwpOnCan = ch.kwpOnCan;
    return link;
}

namespace {
void SessionChangedLocked() {
    g_device.isoRules = Iso15765RulesFor(g_config, g_device.session);
    g_device.sendMode = DpduSendModeFor(g_device.session);
}
}  // namespace

void StartSessionFromConfigLocked() {
    g_device.session = SessionFromConfig(g_config);
    SessionChangedLocked();
    Dpdu_SetKeepToolkitLoaded(g_device.session.KeepToolkitLoaded);
}

void DetectHostProfileLocked() {
    DetectHostProfile(g_config, platform::HostExecutablePath(), IsPcmflashHost(), g_device.session);
    SessionChangedLocked();
}

void ApplyOpenProfileRulesLocked() {
    ApplyOpenProfileRules(g_config, IsPcmflashHost(), g_device.session);
    SessionChangedLocked();
    Dpdu_SetKeepToolkitLoaded(g_device.session.KeepToolkitLoaded);
}

void ReleaseInstanceLock() {
    if (!g_device.instanceLockHeld) return;
    platform::CloseNamedMutex(g_device.instanceMutex);
    g_device.instanceMutex = nullptr;
    g_device.instanceLockHeld = false;
}

void CleanupDeviceStateLocked() {
    Dpdu_SetClosing(true);
    const SessionProfile& s = g_device.session;
    bool forceUnload = (IsPcmflashCompatActive(s) && s.PCMflash.ForceUnloadOnClose) ||
                       (s.XentryProfile && g_config.Xentry.ForceUnloadOnClose);

    bool linkClosed = false;
    for (auto& entry : g_device.channels) {
        ChannelContext& ch = entry.second;
        ch.filters.clear();
        ch.nextFilterId = 1;
        CloseChannelDoip(ch);
        if (ch.link.OnVci()) {
            Dpdu_CloseLink(ch.link.handle);
            ch.link.handle = 0;
            ch.link.transport = ChannelTransport::None;
            linkClosed = true;
        }
    }
    g_device.channels.clear();

    bool noEcuVw = s.NoEcuMode && s.Oem == OemKind::VwOdis;
    if (noEcuVw && linkClosed) {
        WriteLogLine("CleanupDeviceStateLocked: skipping Dpdu_CloseModule/Shutdown (NoEcuMode, VW/ODIS)");
        g_device.isOpen = false;
        Dpdu_SetClosing(false);
    } else {
        if (g_device.moduleHandle != 0) {
            Dpdu_CloseModule(g_device.moduleHandle);
            g_device.moduleHandle = 0;
        }
        Dpdu_Shutdown(forceUnload || noEcuVw);
        g_device.backendInitialized = false;
        g_device.moduleConnected = false;
        g_device.isOpen = false;
    }
    ReleaseInstanceLock();
}

void CloseChannelDoip(ChannelContext& ch) {
    if (!ch.link.doip) return;
    DoipStop(ch.link.doip.get());
    ch.link.doip.reset();
}

DpduResult OpenModuleWithRetry(uint32_t* moduleHandle) {
    *moduleHandle = 0;
    DpduResult result = Dpdu_OpenModule(moduleHandle);
    if (result.ok() || result.status != DpduStatus::DeviceBusy) return result;

    WriteLogLine("LockDevice failure; forcing toolkit unload and retry");
    Dpdu_Shutdown(true);
    ForgetBackendLocked();
    platform::SleepMs(kLockDeviceRetryPauseMs);

    const DpduResult init = Dpdu_Init();
    if (!init.ok()) return DpduFailure(init.status, "Dpdu_Init failed after PCMflash reset: " + init.text, init.code);
    g_device.backendInitialized = true;
    *moduleHandle = 0;
    return Dpdu_OpenModule(moduleHandle);
}

uint32_t CommLostWaitMs(uint32_t now, std::atomic<uint32_t>* nextAllowed, bool* newWindow) {
    // Signed difference: the tick count wraps every 49.7 days. 0 means no window yet.
    uint32_t next = nextAllowed->load();
    int32_t remaining = static_cast<int32_t>(next - now);
    if (next != 0 && remaining > 0 && static_cast<uint32_t>(remaining) <= kCommLostBackoffMs) {
        *newWindow = false;
        return static_cast<uint32_t>(remaining);
    }
    nextAllowed->store(now + kCommLostBackoffMs);
    *newWindow = true;
    return kCommLostBackoffMs;
}

namespace {
void BackOff(const char* whereName) {
    const char* where = whereName ? whereName : "?";
    bool newWindow = false;
    uint32_t wait = CommLostWaitMs(platform::TickCount32(), &g_device.commLostNextAllowed, &newWindow);
    if (newWindow)
        LogPrintf("CommLost: backoff %lums at %s", static_cast<unsigned long>(wait), where);
    else
        LogPrintf("CommLost: backoff wait %lums at %s", static_cast<unsigned long>(wait), where);
    platform::SleepMs(wait);
}
}  // namespace

// Only a real re-construction clears the lost state: a kept toolkit would stay lost for good.
void HandleCommLost(const char* whereName) {
    BackOff(whereName);
    Dpdu_Shutdown(true);
    std::lock_guard<std::mutex> lock(g_deviceLock);
    ForgetBackendLocked();
}

void HandleCommLostLocked(const char* whereName) {
    BackOff(whereName);
    Dpdu_Shutdown(true);
    ForgetBackendLocked();
}
