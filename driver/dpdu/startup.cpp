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

namespace {

constexpr uint32_t kLockDeviceRetryPauseMs = 1200;

void Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
}

// Fails with text and writes it to the log, after prefix.
void FailLogged(std::string* error, const std::string& text, const char* prefix = "") {
    Fail(error, text);
    WriteLogLine(prefix + text);
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

// Picks the module to connect; false with *error when none qualifies.
bool SelectModule(const PDU_MODULE_ITEM* list, const PDU_MODULE_DATA** chosen, std::string* error) {
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
            if (m.ModuleStatus == PDU_MODST_NOT_AVAIL) {
                FailLogged(error, "Matching module is NOT_AVAIL (likely already in use by another process).",
                           "Dpdu_OpenModule: ");
                return false;
            }
            if (!available) continue;
            LogPrintf("Dpdu_OpenModule: selected module index %u (hMod=%u) Vendor='%s' Info='%s'", i, m.hMod,
                      vendor.c_str(), info.c_str());
            *chosen = &m;
            return true;
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
    if (filtersSet) {
        FailLogged(error, "No module matches the configured filters (DeviceName/VendorName/SerialNumber).");
        return false;
    }
    if (!best) {
        FailLogged(error, "No suitable module found in PDU module list.");
        return false;
    }
    LogPrintf("Dpdu_OpenModule: selected best module index %u (hMod=%u) score=%d Vendor='%s' Info='%s'", bestIndex,
              best->hMod, bestScore, Text(best->pVendorModuleName).c_str(), Text(best->pVendorAdditionalInfo).c_str());
    *chosen = best;
    return true;
}

bool ConnectModule(uint32_t hMod, std::string* error) {
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
        FailLogged(error, "PDUModuleConnect failed with error " + PduCodeText(code));
        return false;
    }
    LogPrintf("Dpdu_OpenModule: ModuleConnect OK (PASS), hMod=%u", hMod);
    WriteLogLine("ModuleConnect OK");
    WriteLogLine("ModuleConnect OK (VCI)");
    WriteLogLine("ModuleConnect OK (VCI): PASS");
    WriteLogLine("ModuleConnect OK: PASS");
    return true;
}

}  // namespace

bool Dpdu_Init(std::string* error) {
    g_dpduApi.closing = false;
    if (g_dpdu.initialised.load()) {
        ++g_dpdu.useCount;
        if (error) error->clear();
        return true;
    }
    WriteLogLine("Dpdu_Init: starting D-PDU initialisation");
    g_dpdu.commLost = false;
    if (!g_config.BackendTypeSet) {
        const std::string text = "Backend type not specified in INI (expected [Backend] Type=Orvex / TRX4820 / TVN)";
        Fail(error, text);
        WriteLogLine("Dpdu_Init: ERROR: " + text);
        return false;
    }
    const std::string name = BackendDisplayName();
    WriteLogLine("Backend: " + name + " (DpduDll='" + g_config.DpduSettings.DllName + "')");
    WriteLogLine("Backend : " + name);
    if (g_config.DpduSettings.DllName.empty()) {
        const std::string text = "DpduSettings.DllName not specified in INI";
        Fail(error, text);
        WriteLogLine("Dpdu_Init: ERROR: " + text);
        return false;
    }
    std::vector<std::string> tried;
    if (!LoadVendorLibrary(VendorLibraryCandidates(), &tried)) {
        const std::string list = Join(tried, "; ");
        Fail(error, "Failed to load ORVEX3 D-PDU DLL. Tried: " + list);
        WriteLogLine("Dpdu_Init loaded backend: FAIL (tried: " + list + ")");
        WriteLogLine("Failed to load ORVEX3 D-PDU DLL. Tried: " + list);
        return false;
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
            g_dpdu.initialised = true;
            g_dpdu.useCount = 1;
            LogPrintf("Dpdu_Init: D-PDU initialised PASS using option %s", option.label);
            WriteLogLine("PDUConstruct OK: PASS");
            if (error) error->clear();
            return true;
        }
    }
    WriteLogLine("PDUConstruct PASS: FAIL");
    const std::string text = "PDUConstruct failed with error " + PduCodeText(code) +
                             ". ORVEX3/MVCI runtime or VCI may not be initialised.";
    Fail(error, text);
    WriteLogLine(text);
    UnloadVendorLibrary();
    return false;
}

bool Dpdu_OpenModule(uint32_t* moduleId, std::string* error) {
    std::lock_guard<std::mutex> openLock(g_dpdu.moduleOpenLock);
    WriteLogLine("Dpdu_OpenModule");
    if (!g_dpdu.initialised.load()) {
        Fail(error, "Dpdu_OpenModule called before Dpdu_Init");
        return false;
    }
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
        std::string initError;
        if (Dpdu_Init(&initError)) {
            uint32_t reinitCounter = 0;
            found = ProbeModules(Attempts(s.ModuleProbeReinitAttempts), s.ModuleProbeReinitDelayMs, "reinit",
                                 &reinitCounter, &list, &lastCode);
        } else {
            WriteLogLine("Dpdu_OpenModule: reinit failed: " + initError);
        }
    }
    if (!found) {
        FailLogged(error, "PDUGetModuleIds failed or no modules available (error " + PduCodeText(lastCode) + ")");
        return false;
    }
    const PDU_MODULE_DATA* chosen = nullptr;
    bool ok = SelectModule(list, &chosen, error);
    uint32_t hMod = chosen ? chosen->hMod : 0;
    ReleaseItem(list);
    if (!ok || !ConnectModule(hMod, error)) return false;
    const uint32_t id = ++g_dpdu.nextModuleId;
    {
        std::lock_guard<std::mutex> lock(g_dpdu.tableLock);
        g_dpdu.moduleTable[id] = hMod;
    }
    if (moduleId) *moduleId = id;
    if (error) error->clear();
    return true;
}

bool Dpdu_CloseModule(uint32_t moduleId, std::string* error) {
    g_dpduApi.closing = true;
    uint32_t hMod = 0;
    if (!LookupModule(moduleId, &hMod)) {
        Fail(error, "Dpdu_CloseModule: invalid module handle");
        return false;
    }
    LogPrintf("Dpdu_CloseModule: module=%u hMod=%u", moduleId, hMod);
    EthSwitchOff(hMod);
    std::vector<uint32_t> handles;
    {
        std::lock_guard<std::mutex> lock(g_dpdu.tableLock);
        for (auto it = g_dpdu.links.begin(); it != g_dpdu.links.end();) {
            if (it->second.hMod == hMod) {
                handles.push_back(it->second.hCLL);
                it = g_dpdu.links.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (uint32_t hCLL : handles) DestroyVendorLink(hMod, hCLL);
    CallPDUModuleDisconnect(hMod);
    DpduSleepMs(200);
    {
        std::lock_guard<std::mutex> lock(g_dpdu.tableLock);
        g_dpdu.moduleTable.erase(moduleId);
    }
    if (error) error->clear();
    return true;
}

void Dpdu_Shutdown(bool forceUnload) {
    g_dpduApi.closing = true;
    if (!g_dpdu.initialised.load()) return;
    if (--g_dpdu.useCount > 0) return;
    if (g_dpdu.useCount.load() < 0) g_dpdu.useCount = 0;
    WriteLogLine("Dpdu_Shutdown: tearing down D-PDU stack");
    std::map<uint32_t, DpduLink> links;
    std::map<uint32_t, uint32_t> modules;
    {
        std::lock_guard<std::mutex> lock(g_dpdu.tableLock);
        links.swap(g_dpdu.links);
        modules.swap(g_dpdu.moduleTable);
    }
    for (const auto& entry : links) DestroyVendorLink(entry.second.hMod, entry.second.hCLL);
    for (const auto& entry : modules) {
        StopDiscovery(entry.second);
        EthSwitchOff(entry.second);
        CallPDUModuleDisconnect(entry.second);
        DpduSleepMs(250);
    }
    if (g_config.KeepToolkitLoaded && !forceUnload) {
        g_dpdu.useCount = 0;
        DpduSleepMs(250);
        WriteLogLine("Dpdu_Shutdown: completed (kept toolkit loaded)");
        return;
    }
    CallPDUDestruct();
    UnloadVendorLibrary();
    g_dpdu.initialised = false;
    DpduSleepMs(150);
    WriteLogLine("Dpdu_Shutdown: completed");
}

void MarkCommLost(const char* place, uint32_t code) {
    if (g_dpdu.commLost.exchange(true)) return;
    LogPrintf("Dpdu: COMM LOST at %s: err=%s (%d)", place ? place : "", PduCodeText(code).c_str(),
              static_cast<int32_t>(code));
}
