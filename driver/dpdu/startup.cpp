// Life of the D-PDU API: construction, module probing and selection, module close,
// shutdown, and the communication-lost mark.
#include <cstdio>
#include <string>
#include <vector>

#include "driver/config/driver_config.h"
#include "driver/log/log.h"
#include "driver/dpdu/api_table.h"
#include "driver/dpdu/backend_state.h"
#include "driver/dpdu/doip_presteps.h"
#include "driver/dpdu/dpdu_backend.h"
#include "driver/dpdu/module_selection.h"
#include "driver/dpdu/session_note.h"

namespace {

constexpr uint32_t kLockDeviceRetryPauseMs = 1200;

// A failure whose text also goes to the log, after prefix.
DpduResult FailLogged(DpduStatus status, const std::string& text, const char* prefix = "", uint32_t code = 0) {
    WriteLogLine(prefix + text);
    return DpduFailure(status, text, code);
}

std::string BackendDisplayName() {
    if (!g_config.DeviceDisplayName.empty()) return g_config.DeviceDisplayName;
    switch (CurrentBackendType()) {
        case BackendType::TVN:
            return "TELVARION";
        case BackendType::TRX4820:
            return "VW/ODIS";
        default:
            return "ORVEX3";
    }
}

std::string Join(const std::vector<std::string>& parts, const char* sep) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += sep;
        out += parts[i];
    }
    return out;
}

const char* YesNo(bool b) { return b ? "Y" : "N"; }

// Polls the vendor's module list; on success *list holds it (the caller releases it).
bool ProbeModules(int attempts, uint32_t delayMs, const char* phase, uint32_t* counter, PDU_MODULE_ITEM** list,
                  uint32_t* lastCode) {
    if (!phase) phase = "probe";
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        ++*counter;
        PDU_MODULE_ITEM* item = nullptr;
        uint32_t code = CallPDUGetModuleIds(&item);
        *lastCode = code;
        if (code == PDU_STATUS_NOERROR && item && item->NumEntries >= 1 && item->pModuleData) {
            *list = item;
            return true;
        }
        uint32_t count = item ? item->NumEntries : 0;
        ReleaseItem(item);
        LogPrintf("Dpdu_OpenModule: PDUGetModuleIds attempt %u (%s) returned %s, modules=%u", *counter, phase,
                  PduCodeText(code).c_str(), count);
        DpduSleepMs(delayMs);
    }
    return false;
}

int Attempts(uint32_t configured) { return configured > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(configured); }

std::string Text(const char* s) { return s ? s : ""; }

// Picks the module to connect; a failure when none qualifies.
DpduResult SelectModule(const PDU_MODULE_ITEM* list, const PDU_MODULE_DATA** chosen) {
    const std::string& deviceName = g_config.DeviceFilter.DeviceName;
    const std::string& vendorName = g_config.DeviceFilter.VendorName;
    const std::string& serial = g_config.DeviceFilter.SerialNumber;
    const bool filtersSet = !deviceName.empty() || !vendorName.empty() || !serial.empty();
    LogPrintf("Dpdu_OpenModule: filtersSet=%s DeviceName='%s' VendorName='%s' SerialNumber='%s'", YesNo(filtersSet),
              deviceName.c_str(), vendorName.c_str(), serial.c_str());
    const PDU_MODULE_DATA* best = nullptr;
    int bestScore = 0;
    uint32_t bestIndex = 0;
    for (uint32_t i = 0; i < list->NumEntries; ++i) {
        const PDU_MODULE_DATA& m = list->pModuleData[i];
        const std::string vendor = Text(m.pVendorModuleName);
        const std::string info = Text(m.pVendorAdditionalInfo);
        LogPrintf("PDU Module[%u]: hMod=%u Vendor='%s' Info='%s' Status=%u", i, m.hMod, vendor.c_str(), info.c_str(),
                  m.ModuleStatus);
        const bool available = m.ModuleStatus == PDU_MODST_READY || m.ModuleStatus == PDU_MODST_AVAIL;
        if (filtersSet) {
            if (!ModuleMatchesFilters(vendor, info, deviceName, vendorName, serial)) continue;
            if (m.ModuleStatus == PDU_MODST_NOT_AVAIL)
                return FailLogged(DpduStatus::Failed,
                                  "Matching module is NOT_AVAIL (likely already in use by another process).",
                                  "Dpdu_OpenModule: ");
            if (!available) continue;
            LogPrintf("Dpdu_OpenModule: selected module index %u (hMod=%u) Vendor='%s' Info='%s'", i, m.hMod,
                      vendor.c_str(), info.c_str());
            *chosen = &m;
            return {};
        }
        if (!available) continue;
        ModuleScore s = ScoreModule(vendor, info);
        LogPrintf("Dpdu_OpenModule: candidate index %u score=%d looksMivra=%s serial=%s conn=%s connUsb=%s "
                  "connIp=%s connWifi=%s j2534std=%s",
                  i, s.score, YesNo(s.looksMivra), YesNo(s.serial), YesNo(s.conn), YesNo(s.connUsb), YesNo(s.connIp),
                  YesNo(s.connWifi), YesNo(s.j2534std));
        if (!best || s.score > bestScore) {
            best = &m;
            bestScore = s.score;
            bestIndex = i;
        }
    }
    if (filtersSet)
        return FailLogged(DpduStatus::Failed,
                          "No module matches the configured filters (DeviceName/VendorName/SerialNumber).");
    if (!best) return FailLogged(DpduStatus::Failed, "No suitable module found in PDU module list.");
    LogPrintf("Dpdu_OpenModule: selected best module index %u (hMod=%u) score=%d Vendor='%s' Info='%s'", bestIndex,
              best->hMod, bestScore, Text(best->pVendorModuleName).c_str(), Text(best->pVendorAdditionalInfo).c_str());
    *chosen = best;
    return {};
}

DpduResult ConnectModule(uint32_t hMod) {
    uint32_t code = CallPDUModuleConnect(hMod);
    if (code != PDU_STATUS_NOERROR) {
        LogPrintf("Dpdu_OpenModule: ModuleConnect attempt 1 failed: %s", PduCodeText(code).c_str());
        if (code == PDU_ERR_FCT_FAILED) {
            WriteLogLine("Dpdu_OpenModule: MIVRA LockDevice failed (device busy/locked)");
            WriteLogLine("Dpdu_OpenModule: got 0x01 (PDU_ERR_FCT_FAILED) - likely device busy/locked; retrying once "
                         "after backoff");
            DpduSleepMs(kLockDeviceRetryPauseMs);
            code = CallPDUModuleConnect(hMod);
            if (code != PDU_STATUS_NOERROR)
                LogPrintf("Dpdu_OpenModule: ModuleConnect retry failed: %s", PduCodeText(code).c_str());
        }
    }
    if (code != PDU_STATUS_NOERROR) {
        // Another application holding the VCI answers PDU_ERR_FCT_FAILED.
        const DpduStatus status = code == PDU_ERR_FCT_FAILED ? DpduStatus::DeviceBusy : DpduStatus::Failed;
        return FailLogged(status, "PDUModuleConnect failed with error " + PduCodeText(code), "", code);
    }
    LogPrintf("Dpdu_OpenModule: ModuleConnect OK (PASS), hMod=%u", hMod);
    WriteLogLine("ModuleConnect OK");
    WriteLogLine("ModuleConnect OK (VCI)");
    WriteLogLine("ModuleConnect OK (VCI): PASS");
    WriteLogLine("ModuleConnect OK: PASS");
    return {};
}

}  // namespace

DpduResult Dpdu_Init() {
    g_backend.api.closing = false;
    if (g_backend.initialised.load()) {
        ++g_backend.useCount;
        return {};
    }
    WriteLogLine("Dpdu_Init: starting D-PDU initialisation");
    g_backend.commLost = false;
    if (!g_config.BackendTypeSet) {
        return FailLogged(DpduStatus::Failed,
                          "Backend type not specified in INI (expected [Backend] Type=Orvex / TRX4820 / TVN)",
                          "Dpdu_Init: ERROR: ");
    }
    const std::string name = BackendDisplayName();
    WriteLogLine("Backend: " + name + " (DpduDll='" + g_config.DpduSettings.DllName + "')");
    WriteLogLine("Backend : " + name);
    if (g_config.DpduSettings.DllName.empty()) {
        return FailLogged(DpduStatus::Failed, "DpduSettings.DllName not specified in INI", "Dpdu_Init: ERROR: ");
    }
    ReleaseOrphanedSessions();
    std::vector<std::string> tried;
    if (!LoadVendorLibrary(VendorLibraryCandidates(), &tried)) {
        const std::string list = Join(tried, "; ");
        WriteLogLine("Dpdu_Init loaded backend: FAIL (tried: " + list + ")");
        return FailLogged(DpduStatus::Failed, "Failed to load ORVEX3 D-PDU DLL. Tried: " + list);
    }
    struct Option {
        const char* value;
        const char* label;
    };
    static const Option kOptions[] = {{nullptr, "default (nullptr)"},
                                      {"", "empty string"},
                                      {"Connection=Direct", "Connection=Direct"},
                                      {"UseService=0", "UseService=0"}};
    uint32_t code = PDU_ERR_FCT_FAILED;
    for (const Option& option : kOptions) {
        LogPrintf("Dpdu_Init: calling PDUConstruct with option '%s'", option.label);
        code = CallPDUConstruct(option.value);
        LogPrintf("Dpdu_Init: PDUConstruct returned %s", PduCodeText(code).c_str());
        if (code == PDU_STATUS_NOERROR) {
            NoteConstructed(g_backend.api.library);
            g_backend.initialised = true;
            g_backend.useCount = 1;
            LogPrintf("Dpdu_Init: D-PDU initialised PASS using option %s", option.label);
            WriteLogLine("PDUConstruct OK: PASS");
            return {};
        }
    }
    WriteLogLine("PDUConstruct PASS: FAIL");
    const std::string text = "PDUConstruct failed with error " + PduCodeText(code) +
                             ". ORVEX3/MVCI runtime or VCI may not be initialised.";
    WriteLogLine(text);
    UnloadVendorLibrary();
    return DpduFailure(DpduStatus::Failed, text, code);
}

DpduResult Dpdu_OpenModule(uint32_t* moduleId) {
    std::lock_guard<std::mutex> openLock(g_backend.moduleOpenLock);
    WriteLogLine("Dpdu_OpenModule");
    if (!g_backend.initialised.load()) return DpduFailure(DpduStatus::Failed, "Dpdu_OpenModule called before Dpdu_Init");
    const auto& s = g_config.DpduSettings;
    PDU_MODULE_ITEM* list = nullptr;
    uint32_t lastCode = PDU_ERR_FCT_FAILED;
    uint32_t counter = 0;
    bool found = ProbeModules(Attempts(s.ModuleProbeQuickAttempts), s.ModuleProbeQuickDelayMs, "quick", &counter,
                              &list, &lastCode) ||
                 ProbeModules(Attempts(s.ModuleProbeSlowAttempts), s.ModuleProbeSlowDelayMs, "slow", &counter, &list,
                              &lastCode);
    if (!found) {
        WriteLogLine("Dpdu_OpenModule: no modules after retries; attempting D-PDU reinit");
        Dpdu_Shutdown(true);
        const DpduResult init = Dpdu_Init();
        if (init.ok()) {
            uint32_t reinitCounter = 0;
            found = ProbeModules(Attempts(s.ModuleProbeReinitAttempts), s.ModuleProbeReinitDelayMs, "reinit",
                                 &reinitCounter, &list, &lastCode);
        } else {
            WriteLogLine("Dpdu_OpenModule: reinit failed: " + init.text);
        }
    }
    if (!found)
        return FailLogged(DpduStatus::NoModule,
                          "PDUGetModuleIds failed or no modules available (error " + PduCodeText(lastCode) + ")", "",
                          lastCode);
    const PDU_MODULE_DATA* chosen = nullptr;
    DpduResult result = SelectModule(list, &chosen);
    uint32_t hMod = chosen ? chosen->hMod : 0;
    ReleaseItem(list);
    if (result.ok()) result = ConnectModule(hMod);
    if (!result.ok()) return result;
    const uint32_t id = ++g_backend.nextModuleId;
    {
        std::lock_guard<std::mutex> lock(g_backend.tableLock);
        g_backend.moduleTable[id] = hMod;
    }
    if (moduleId) *moduleId = id;
    return {};
}

DpduResult Dpdu_CloseModule(uint32_t moduleId) {
    g_backend.api.closing = true;
    uint32_t hMod = 0;
    if (!LookupModule(moduleId, &hMod)) return DpduFailure(DpduStatus::Failed, "Dpdu_CloseModule: invalid module handle");
    LogPrintf("Dpdu_CloseModule: module=%u hMod=%u", moduleId, hMod);
    EthSwitchOff(hMod);
    std::vector<uint32_t> handles;
    {
        std::lock_guard<std::mutex> lock(g_backend.tableLock);
        std::vector<uint32_t> ids;
        for (const auto& entry : g_backend.links) {
            if (entry.second.hMod != hMod) continue;
            handles.push_back(entry.second.hCLL);
            ids.push_back(entry.first);
        }
        for (uint32_t id : ids) EraseLinkLocked(id);
    }
    for (uint32_t hCLL : handles) DestroyVendorLink(hMod, hCLL);
    CallPDUModuleDisconnect(hMod);
    DpduSleepMs(200);
    {
        std::lock_guard<std::mutex> lock(g_backend.tableLock);
        g_backend.moduleTable.erase(moduleId);
    }
    return {};
}

void Dpdu_Shutdown(bool forceUnload) {
    g_backend.api.closing = true;
    if (!g_backend.initialised.load()) return;
    if (--g_backend.useCount > 0) return;
    if (g_backend.useCount.load() < 0) g_backend.useCount = 0;
    WriteLogLine("Dpdu_Shutdown: tearing down D-PDU stack");
    std::map<uint32_t, DpduLink> links;
    std::map<uint32_t, uint32_t> modules;
    {
        std::lock_guard<std::mutex> lock(g_backend.tableLock);
        links.swap(g_backend.links);
        g_backend.linkNames.clear();
        LinksChangedLocked();
        modules.swap(g_backend.moduleTable);
    }
    for (const auto& entry : links) DestroyVendorLink(entry.second.hMod, entry.second.hCLL);
    for (const auto& entry : modules) {
        StopDiscovery(entry.second);
        EthSwitchOff(entry.second);
        CallPDUModuleDisconnect(entry.second);
        DpduSleepMs(250);
    }
    if (g_backend.keepToolkitLoaded.load() && !forceUnload) {
        g_backend.useCount = 0;
        DpduSleepMs(250);
        WriteLogLine("Dpdu_Shutdown: completed (kept toolkit loaded)");
        return;
    }
    CallPDUDestruct();
    UnloadVendorLibrary();
    g_backend.initialised = false;
    DpduSleepMs(150);
    WriteLogLine("Dpdu_Shutdown: completed");
}

void Dpdu_SetKeepToolkitLoaded(bool keep) { g_backend.keepToolkitLoaded = keep; }

void MarkCommLost(const char* place, uint32_t code) {
    if (g_backend.commLost.exchange(true)) return;
    LogPrintf("Dpdu: COMM LOST at %s: err=%s (%d)", place ? place : "", PduCodeText(code).c_str(),
              static_cast<int32_t>(code));
}
