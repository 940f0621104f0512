#include "driver/api/device.h"

#include <cctype>

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

bool InitBackendLocked(std::string* error) {
    if (!Dpdu_Init(error)) return false;
    WriteLogLine("Dpdu_Init: marker dpdu_init");
    WriteLogLine("PDUConstruct returned (wrapper marker)");
    g_device.backendInitialized = true;
    return true;
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
    for (ChannelContext& ch : g_device.channels)
        if (ch.channelId == channelId) return &ch;
    return nullptr;
}

bool CopyChannelState(uint32_t channelId, ChannelState* copy) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    const ChannelContext* live = FindChannel(channelId);
    if (!live) return false;
    *copy = *live;
    return true;
}

void WriteBackChannelState(const ChannelState& before, const ChannelState& after) {
    // Only what this call changed: another thread may have changed the rest meanwhile.
#define ORVEX_TRANSFER_FIELDS(X)                                                                          \
    X(dasWakeSent) X(lastTxCanId) X(expectedRxId) X(comParamsEnabled) X(comParamsTried) X(isoTpIdsSet) \
        X(isoTpTxId) X(isoTpRxId) X(doipTxCount)
#define ORVEX_CHANGED(field) || after.field != before.field
    if (!(false ORVEX_TRANSFER_FIELDS(ORVEX_CHANGED))) return;
    std::lock_guard<std::mutex> lock(g_deviceLock);
    ChannelContext* live = FindChannel(after.channelId);
    if (!live) return;
#define ORVEX_WRITE_BACK(field) \
    if (after.field != before.field) live->field = after.field;
    ORVEX_TRANSFER_FIELDS(ORVEX_WRITE_BACK)
#undef ORVEX_WRITE_BACK
#undef ORVEX_CHANGED
#undef ORVEX_TRANSFER_FIELDS
}

void ReleaseInstanceLock() {
    if (!g_device.instanceLockHeld) return;
    platform::CloseNamedMutex(g_device.instanceMutex);
    g_device.instanceMutex = nullptr;
    g_device.instanceLockHeld = false;
}

void CleanupDeviceStateLocked() {
    Dpdu_SetClosing(true);
    bool forceUnload = (IsPcmflashCompatActive() && g_config.PCMflash.ForceUnloadOnClose) ||
                       (g_config.XentryProfile && g_config.Xentry.ForceUnloadOnClose);

    bool linkClosed = false;
    for (ChannelContext& ch : g_device.channels) {
        ch.filters.clear();
        ch.nextFilterId = 1;
        CloseChannelDoip(ch);
        if (ch.linkHandle != 0) {
            std::string error;
            Dpdu_CloseLink(ch.linkHandle, &error);
            ch.linkHandle = 0;
            if (ch.kind == 0) linkClosed = true;
        }
    }
    g_device.channels.clear();

    bool noEcuVw = g_config.Bench.NoEcuMode && g_oemKind == OemKind::VwOdis;
    if (noEcuVw && linkClosed) {
        WriteLogLine("CleanupDeviceStateLocked: skipping Dpdu_CloseModule/Shutdown (NoEcuMode, VW/ODIS)");
        g_device.isOpen = false;
        Dpdu_SetClosing(false);
    } else {
        if (g_device.moduleHandle != 0) {
            std::string error;
            Dpdu_CloseModule(g_device.moduleHandle, &error);
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
    if (!ch.doip) return;
    DoipStop(ch.doip.get());
    ch.doip.reset();
}

bool IsLockDeviceFailure(const std::string& errorText) {
    for (const char* marker : {"PDU_ERR_FCT_FAILED", "0x01", "LockDevice", "Device thread locking"})
        if (errorText.find(marker) != std::string::npos) return true;
    // The backend writes the busy answer of PDUModuleConnect (error 1) as "0x1".
    static const std::string kBusy = "PDUModuleConnect failed with error 0x1";
    size_t pos = errorText.find(kBusy);
    if (pos == std::string::npos) return false;
    size_t next = pos + kBusy.size();
    return next == errorText.size() || !std::isxdigit(static_cast<unsigned char>(errorText[next]));
}

bool OpenModuleWithRetry(uint32_t* moduleHandle, std::string* errorText) {
    *moduleHandle = 0;
    if (Dpdu_OpenModule(moduleHandle, errorText) && *moduleHandle != 0) return true;
    if (!IsLockDeviceFailure(*errorText)) return false;

    WriteLogLine("LockDevice failure; forcing toolkit unload and retry");
    Dpdu_Shutdown(true);
    ForgetBackendLocked();
    platform::SleepMs(kLockDeviceRetryPauseMs);

    std::string initError;
    if (!Dpdu_Init(&initError)) {
        *errorText = "Dpdu_Init failed after PCMflash reset: " + initError;
        return false;
    }
    g_device.backendInitialized = true;
    *moduleHandle = 0;
    return Dpdu_OpenModule(moduleHandle, errorText) && *moduleHandle != 0;
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
