#include "driver/config/host_profile.h"

#include <atomic>

#include "driver/config/config_values.h"
#include "driver/config/driver_config.h"
#include "driver/log/log.h"
#include "platform/platform.h"

namespace {

std::string NormalisePath(std::string s) {
    for (char& c : s)
        if (c == '/') c = '\\';
    return LowerAscii(s);
}

std::string LastComponent(const std::string& normalised) {
    size_t pos = normalised.find_last_of('\\');
    return pos == std::string::npos ? normalised : normalised.substr(pos + 1);
}

bool ContainsPcmflash(const std::string& hostPath) {
    return hostPath.size() >= 8 && LowerAscii(hostPath).find("pcmflash") != std::string::npos;
}

}  // namespace

bool HostPathMatches(const std::string& configured, const std::string& hostPath) {
    std::string value = TrimText(configured);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    value = NormalisePath(value);
    const std::string host = NormalisePath(hostPath);
    if (value.empty() || host.empty()) return false;
    if (host.find(value) != std::string::npos) return true;
    const std::string valueName = LastComponent(value);
    const std::string hostName = LastComponent(host);
    // A folder value ending in a separator has no file name to compare; it matches only by
    // containment above, never every host.
    if (valueName.empty()) return false;
    if (valueName == hostName) return true;
    return valueName.find('.') == std::string::npos && hostName.find(valueName) != std::string::npos;
}

bool IsPcmflashHost() {
    // -1 not yet known; the computation is idempotent, so a race only repeats it.
    static std::atomic<int> cached{-1};
    int v = cached.load();
    if (v < 0) {
        v = ContainsPcmflash(platform::HostExecutablePath()) ? 1 : 0;
        cached.store(v);
    }
    return v == 1;
}

namespace {

OemKind VariantOem(const DriverConfig& cfg, OemKind current) {
    if (cfg.BackendVariant == "TRX4820") return OemKind::VwOdis;
    if (cfg.BackendVariant == "TVN") return OemKind::MbXentry;
    if (cfg.BackendVariant == "Orvex") return OemKind::Piwis;
    return current;
}

// The first configured host path that matches makes its profile explicit.
void DetectFromPath(const DriverConfig& cfg, const std::string& hostPath, SessionProfile& c) {
    if (HostPathMatches(cfg.Xentry.XentryPath, hostPath)) {
        c.XentryProfile = true;
        c.ProfileExplicit = true;
        WriteLogLine("Profile auto-detected from path: XENTRY");
    } else if (HostPathMatches(cfg.DAS.DasPath, hostPath)) {
        c.DasProfile = true;
        c.XentryProfile = false;
        c.ProfileExplicit = true;
        WriteLogLine("Profile auto-detected from path: DAS");
    } else if (HostPathMatches(cfg.Odis.OdisPath, hostPath)) {
        c.OdisProfile = true;
        c.ProfileExplicit = true;
        WriteLogLine("Profile auto-detected from path: ODIS");
    } else if (HostPathMatches(cfg.PCMflash.PcmflashPath, hostPath)) {
        ApplyPcmflashProfile(c);
        c.ProfileExplicit = true;
        WriteLogLine("Profile auto-detected from path: PCMFLASH");
    } else if (HostPathMatches(cfg.Piwis.PiwisPath, hostPath)) {
        c.PiwisProfile = true;
        c.ProfileExplicit = true;
        WriteLogLine("Profile auto-detected from path: PIWIS");
    }
}

}  // namespace

void DetectHostProfile(const DriverConfig& cfg, const std::string& hostPath, bool pcmflashHost,
                       SessionProfile& c) {
    c.Oem = VariantOem(cfg, c.Oem);
    const bool anyPath = !cfg.Xentry.XentryPath.empty() || !cfg.DAS.DasPath.empty() || !cfg.Odis.OdisPath.empty() ||
                         !cfg.PCMflash.PcmflashPath.empty() || !cfg.Piwis.PiwisPath.empty();
    if (!c.ProfileExplicit && anyPath && !hostPath.empty()) DetectFromPath(cfg, hostPath, c);

    if (!c.ProfileExplicit) {
        if (c.Oem == OemKind::Unset) c.Oem = OemKind::Generic;
        c.PcmflashHostDetected = pcmflashHost;
        if (pcmflashHost) WriteLogLine("[Compat] Detected host process: PCMflash");
        return;
    }

    if (c.XentryProfile || c.DasProfile) {
        c.Oem = OemKind::MbXentry;
        WriteLogLine(c.XentryProfile ? "OEM overridden by Profile: XENTRY" : "OEM overridden by Profile: DAS");
    } else if (c.OdisProfile) {
        c.Oem = OemKind::VwOdis;
        WriteLogLine("OEM overridden by Profile: ODIS");
    } else if (c.PiwisProfile) {
        c.Oem = OemKind::Piwis;
        WriteLogLine("OEM overridden by Profile: PIWIS");
    } else {
        return;  // only the PCMflash profile
    }

    if (c.DasProfile && !c.UdsApduOnlyExplicit) {
        c.UdsApduOnly = false;
        WriteLogLine("DAS profile: ISO15765 UdsApduOnly disabled (keep ISO-TP PCI)");
    }
}

void ApplyOpenProfileRules(const DriverConfig& cfg, bool pcmflashHost, SessionProfile& c) {
    if (IsPcmflashCompatActive(c) || pcmflashHost) {
        if (c.PCMflash.ForceUnloadOnClose || pcmflashHost) {
            if (c.KeepToolkitLoaded) WriteLogLine("PCMflash: forcing KeepLoaded=0 to avoid stale toolkit lock");
            c.KeepToolkitLoaded = false;
        }
        if (c.PCMflash.UseSendRecvIso15765 || c.PCMflash.UseSendRecvIso15765FD) c.WriteUsesSendRecv = true;
        if (c.NoEcuMode) {
            c.NoEcuMode = false;
            WriteLogLine("PCMflash: disabling NoEcuMode to allow real TX/RX");
        }
    }
    if (c.XentryProfile) {
        if (cfg.Xentry.UseSendRecvIso15765 && !c.WriteUsesSendRecv) {
            c.WriteUsesSendRecv = true;
            WriteLogLine("XENTRY: forcing WriteUsesSendRecv=1 for ISO15765");
        }
        if (cfg.Xentry.ForceUnloadOnClose && c.KeepToolkitLoaded) {
            c.KeepToolkitLoaded = false;
            WriteLogLine("XENTRY: forcing KeepLoaded=0 to avoid stale toolkit lock");
        }
        if (c.ProfileExplicit) {
            c.Oem = OemKind::MbXentry;
            WriteLogLine("OEM detection overridden by Profile Mode: XENTRY");
        }
    }
}

uint32_t DasFirstTxId() { return g_config.DasIdPairs.empty() ? 0x7E0 : g_config.DasIdPairs.front().first; }
uint32_t DasFirstRxId() { return g_config.DasIdPairs.empty() ? 0x7E8 : g_config.DasIdPairs.front().second; }
