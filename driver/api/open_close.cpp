// PassThruOpen and PassThruClose.
#include "driver/api/api_impl.h"
#include "driver/api/config_once.h"
#include "driver/api/device.h"
#include "driver/api/last_error.h"
#include "driver/api/periodic.h"
#include "driver/capture/capture.h"
#include "driver/config/driver_config.h"
#include "driver/config/host_profile.h"
#include "driver/log/log.h"
#include "driver/config/module_identity.h"
#include "driver/dpdu/dpdu_backend.h"
#include "platform/platform.h"

namespace {
// Caller holds g_deviceLock. Returns 0 or the refusal code.
int32_t TakeInstanceLockIfWanted() {
    const SessionProfile& s = g_device.session;
    bool wanted = (IsPcmflashCompatActive(s) && s.PCMflash.ExclusiveDevice) ||
                  (s.XentryProfile && g_config.Xentry.ExclusiveDevice);
    if (!wanted || !g_config.General.EnableInstanceLock || g_device.instanceLockHeld) return j2534::STATUS_NOERROR;
    bool existed = false;
    void* mutex = platform::CreateNamedMutex("Global\\Orvex_J2534_SingleInstance", &existed);
    if (!mutex) mutex = platform::CreateNamedMutex("Orvex_J2534_SingleInstance", &existed);
    if (!mutex) return j2534::STATUS_NOERROR;  // no lock to be had: go on without one
    if (existed) {
        platform::CloseNamedMutex(mutex);
        SetLastErrorText("Device is already in use by another Orvex_J2534 instance.");
        return j2534::ERR_DEVICE_IN_USE;
    }
    g_device.instanceMutex = mutex;
    g_device.instanceLockHeld = true;
    return j2534::STATUS_NOERROR;
}

// Caller holds g_deviceLock. Only the NoEcu VW/ODIS clean-up keeps a module between
// sessions; any other leftover backend state is released rather than forgotten.
void SettleBackendFromEarlierSession() {
    bool kept = g_device.backendInitialized && g_device.moduleConnected && g_device.moduleHandle != 0;
    if (kept && g_device.session.NoEcuMode && g_device.session.Oem == OemKind::VwOdis) return;
    if (g_device.moduleHandle != 0) Dpdu_CloseModule(g_device.moduleHandle);
    if (g_device.backendInitialized) Dpdu_Shutdown();
    g_device.moduleHandle = 0;
    g_device.backendInitialized = false;
    g_device.moduleConnected = false;
}

void LaunchIgnitionHelper() {
    if (!g_config.Ignition.LauncherEnabled) return;
    const std::string& ini = g_config.IniPath;
    std::string exe = g_config.Ignition.IgnitionExePath;
    if (exe.empty() && !ini.empty()) exe = platform::WithoutLastComponent(ini) + platform::kPathSeparator + "Ignition.exe";
    if (exe.empty()) return;
    platform::FileInfo info = platform::GetFileInfo(exe);
    if (!info.exists || info.isDirectory) return;
    std::string commandLine = "\"" + exe + "\"";
    if (!ini.empty()) commandLine += " --inipath \"" + ini + "\"";
    if (platform::StartDetachedProcess(exe, commandLine)) WriteLogLine("Ignition helper launched.");
}
}  // namespace

int32_t PassThruOpenImpl(const void*, j2534::ULONG* pDeviceID) {
    LoadDriverConfig();
    // The profile rules write the configuration record, which connect reads under the lock.
    std::lock_guard<std::mutex> lock(g_deviceLock);
    DetectHostProfileLocked();
    const char* oem = OemKindName(g_device.session.Oem);
    LogPrintf("[OEM] Detected: %s", (oem && *oem) ? oem : "Generic");
    WriteLogLine("PassThruOpen");
    ApplyOpenProfileRulesLocked();

    if (g_config.ConfigFatal) {
        SetLastErrorText("Configuration error (see log file)");
        WriteLogLine("Configuration fatal: PassThruOpen denied");
        return j2534::ERR_FAILED;
    }
    bool lockHeldBefore = g_device.instanceLockHeld;
    int32_t rc = TakeInstanceLockIfWanted();
    if (rc != j2534::STATUS_NOERROR) return rc;
    if (!pDeviceID) {
        // A refused open must not keep other processes out.
        if (!lockHeldBefore) ReleaseInstanceLock();
        return j2534::ERR_NULL_PARAMETER;
    }
    if (g_device.isOpen) return j2534::ERR_DEVICE_IN_USE;

    g_device.deviceId = kDeviceId;
    g_device.isOpen = true;
    g_device.channels.clear();
    SettleBackendFromEarlierSession();
    LaunchIgnitionHelper();
    CaptureSessionStart(CaptureSettingsOf(g_config));
    *pDeviceID = kDeviceId;
    return j2534::STATUS_NOERROR;
}

int32_t PassThruCloseImpl(uint32_t DeviceID) {
    WriteLogLine("PassThruClose");
    std::unique_lock<std::mutex> lock(g_deviceLock);
    int32_t rc = CheckDeviceOpen(DeviceID, "PassThruClose");
    EndPeriodicMsgsLocked(lock, 0);
    CleanupDeviceStateLocked();
    CaptureSessionEnd();
    return rc;
}
