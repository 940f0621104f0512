#include "driver/config/host_profile.h"

#include <atomic>

#include "driver/config/config_values.h"
#include "driver/config/driver_config.h"
#include "driver/log/log.h"
#include "platform/platform.h"

OemKind g_oemKind = OemKind::Generic;

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

const char* OemKindName(OemKind kind) {
    switch (kind) {
        case OemKind::Generic: return "Generic";
        case OemKind::VwOdis: return "VW/ODIS";
        case OemKind::MbXentry: return "MB/Xentry";
        case OemKind::Piwis: return "PIWIS";
        case OemKind::Unset: break;
    }
    return "";
}

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

void ApplyPcmflashProfile(DriverConfig& cfg) {
    cfg.PcmflashProfile = true;
    cfg.PCMflash.PCMflashEnabled = true;
    cfg.PCMflash.UseSendRecvIso15765 = true;
    cfg.PCMflash.UseSendRecvIso15765FD = true;
    cfg.PCMflash.TryIso15765ComParams = true;
    cfg.PCMflash.InstallIso15765ResponseFilters = true;
    cfg.PCMflash.ForceUnloadOnClose = true;
    cfg.PCMflash.UseKwpOnCan = true;
    cfg.UdsApduOnly = false;
    cfg.UdsApduOnlyExplicit = true;
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

bool IsPcmflashCompatActive() {
    return g_config.PCMflash.PCMflashEnabled && (g_config.PcmflashHostDetected || g_config.PcmflashProfile);
}

void DetectHostProfile() { DetectHostProfileFor(platform::HostExecutablePath(), IsPcmflashHost()); }

void DetectHostProfileFor(const std::string& hostPath, bool pcmflashHost) {
    DriverConfig& c = g_config;
    if (c.BackendVariant == "TRX4820")
        g_oemKind = OemKind::VwOdis;
    else if (c.BackendVariant == "TVN")
        g_oemKind = OemKind::MbXentry;
    else if (c.BackendVariant == "Orvex")
        g_oemKind = OemKind::Piwis;

    const bool anyPath = !c.Xentry.XentryPath.empty() || !c.DAS.DasPath.empty() || !c.Odis.OdisPath.empty() ||
                         !c.PCMflash.PcmflashPath.empty() || !c.Piwis.PiwisPath.empty();
    if (!c.ProfileExplicit && anyPath && !hostPath.empty()) {
        if (HostPathMatches(c.Xentry.XentryPath, hostPath)) {
            c.XentryProfile = true;
            c.ProfileExplicit = true;
            WriteLogLine("Profile auto-detected from path: XENTRY");
        } else if (HostPathMatches(c.DAS.DasPath, hostPath)) {
            c.DasProfile = true;
            c.XentryProfile = false;
            c.ProfileExplicit = true;
            WriteLogLine("Profile auto-detected from path: DAS");
        } else if (HostPathMatches(c.Odis.OdisPath, hostPath)) {
            c.OdisProfile = true;
            c.ProfileExplicit = true;
            WriteLogLine("Profile auto-detected from path: ODIS");
        } else if (HostPathMatches(c.PCMflash.PcmflashPath, hostPath)) {
            ApplyPcmflashProfile(c);
            c.ProfileExplicit = true;
            WriteLogLine("Profile auto-detected from path: PCMFLASH");
        } else if (HostPathMatches(c.Piwis.PiwisPath, hostPath)) {
            c.PiwisProfile = true;
            c.ProfileExplicit = true;
            WriteLogLine("Profile auto-detected from path: PIWIS");
        }
    }

    if (!c.ProfileExplicit) {
        if (g_oemKind == OemKind::Unset) g_oemKind = OemKind::Generic;
        c.PcmflashHostDetected = pcmflashHost;
        if (pcmflashHost) WriteLogLine("[Compat] Detected host process: PCMflash");
        return;
    }

    if (c.XentryProfile || c.DasProfile) {
        g_oemKind = OemKind::MbXentry;
        WriteLogLine(c.XentryProfile ? "OEM overridden by Profile: XENTRY" : "OEM overridden by Profile: DAS");
    } else if (c.OdisProfile) {
        g_oemKind = OemKind::VwOdis;
        WriteLogLine("OEM overridden by Profile: ODIS");
    } else if (c.PiwisProfile) {
        g_oemKind = OemKind::Piwis;
        WriteLogLine("OEM overridden by Profile: PIWIS");
    } else {
        return;  // only the PCMflash profile
    }

    if (c.DasProfile && !c.UdsApduOnlyExplicit) {
        c.UdsApduOnly = false;
        WriteLogLine("DAS profile: ISO15765 UdsApduOnly disabled (keep ISO-TP PCI)");
    }
}

void ApplyOpenProfileRules() { ApplyOpenProfileRulesFor(IsPcmflashHost()); }

void ApplyOpenProfileRulesFor(bool pcmflashHost) {
    DriverConfig& c = g_config;
    if (IsPcmflashCompatActive() || pcmflashHost) {
        if (c.PCMflash.ForceUnloadOnClose || pcmflashHost) {
            if (c.KeepToolkitLoaded) WriteLogLine("PCMflash: forcing KeepLoaded=0 to avoid stale toolkit lock");
            c.KeepToolkitLoaded = false;
        }
        if (c.PCMflash.UseSendRecvIso15765 || c.PCMflash.UseSendRecvIso15765FD) c.J2534.WriteUsesSendRecv = true;
        if (c.Bench.NoEcuMode) {
            c.Bench.NoEcuMode = false;
            WriteLogLine("PCMflash: disabling NoEcuMode to allow real TX/RX");
        }
    }
    if (c.XentryProfile) {
        if (c.Xentry.UseSendRecvIso15765 && !c.J2534.WriteUsesSendRecv) {
            c.J2534.WriteUsesSendRecv = true;
            WriteLogLine("XENTRY: forcing WriteUsesSendRecv=1 for ISO15765");
        }
        if (c.Xentry.ForceUnloadOnClose && c.KeepToolkitLoaded) {
            c.KeepToolkitLoaded = false;
            WriteLogLine("XENTRY: forcing KeepLoaded=0 to avoid stale toolkit lock");
        }
        if (c.ProfileExplicit) {
            g_oemKind = OemKind::MbXentry;
            WriteLogLine("OEM detection overridden by Profile Mode: XENTRY");
        }
    }
}

void FixXentryIso15765Ids(uint32_t& txId, uint32_t& rxId) {
    if (!g_config.XentryProfile) return;
    if (txId != 0x7DF && txId < 0x600) {
        LogPrintf("XENTRY: suspicious ISO15765 TX ID 0x%lX; using default 0x%lX", static_cast<unsigned long>(txId),
                  static_cast<unsigned long>(DasFirstTxId()));
        txId = DasFirstTxId();
    }
    if (rxId == 0 || rxId < 0x600) rxId = DasFirstRxId();
}

uint32_t DasFirstTxId() { return g_config.DasIdPairs.empty() ? 0x7E0 : g_config.DasIdPairs.front().first; }
uint32_t DasFirstRxId() { return g_config.DasIdPairs.empty() ? 0x7E8 : g_config.DasIdPairs.front().second; }
