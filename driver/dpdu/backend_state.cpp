#include "driver/dpdu/backend_state.h"

#include "driver/config/driver_config.h"
#include "driver/dpdu/api_table.h"
#include "driver/dpdu/dpdu_backend.h"
#include "platform/platform.h"

DpduBackend g_dpdu;
void (*g_dpduSleep)(uint32_t ms) = &platform::SleepMs;

BackendType CurrentBackendType() { return g_config.Backend; }

bool LookupModule(uint32_t moduleId, uint32_t* hMod) {
    std::lock_guard<std::mutex> lock(g_dpdu.tableLock);
    auto it = g_dpdu.moduleTable.find(moduleId);
    if (it == g_dpdu.moduleTable.end()) return false;
    if (hMod) *hMod = it->second;
    return true;
}

bool LookupLink(uint32_t linkId, DpduLink* copy) {
    std::lock_guard<std::mutex> lock(g_dpdu.tableLock);
    auto it = g_dpdu.links.find(linkId);
    if (it == g_dpdu.links.end()) return false;
    if (copy) *copy = it->second;
    return true;
}

void DestroyVendorLink(uint32_t hMod, uint32_t hCLL) {
    CallPDUDisconnect(hMod, hCLL);
    CallPDUDestroyComLogicalLink(hMod, hCLL);
}

bool Dpdu_IsInitialised() { return g_dpdu.initialised.load(); }
bool Dpdu_IsCommLost() { return g_dpdu.commLost.load(); }
bool Dpdu_IsClosing() { return g_dpduApi.closing.load(); }
void Dpdu_SetClosing(bool raised) { g_dpduApi.closing = raised; }
