#include "driver/dpdu/backend_state.h"

#include "driver/config/driver_config.h"
#include "driver/dpdu/api_table.h"
#include "driver/dpdu/dpdu_backend.h"
#include "platform/platform.h"

DpduBackend g_backend;

BackendType CurrentBackendType() { return g_config.Backend; }

bool LookupModule(uint32_t moduleId, uint32_t* hMod) {
    std::lock_guard<std::mutex> lock(g_backend.tableLock);
    auto it = g_backend.moduleTable.find(moduleId);
    if (it == g_backend.moduleTable.end()) return false;
    if (hMod) *hMod = it->second;
    return true;
}

void LinksChangedLocked() { g_backend.linksVersion.fetch_add(1, std::memory_order_release); }

void EraseLinkLocked(uint32_t linkId) {
    g_backend.links.erase(linkId);
    g_backend.linkNames.erase(linkId);
    LinksChangedLocked();
}

namespace {
// The link this thread looked up last: every message looks up the same one, and the table's
// lock is then an atomic operation per message that changes nothing.
struct RecentLink {
    uint64_t version = 0;
    uint32_t id = 0;
    DpduLink link;
};
thread_local RecentLink t_recentLink;
}  // namespace

bool LookupLink(uint32_t linkId, DpduLink* copy) {
    RecentLink& recent = t_recentLink;
    if (recent.id == linkId && recent.version == g_backend.linksVersion.load(std::memory_order_acquire)) {
        if (copy) *copy = recent.link;
        return true;
    }
    std::lock_guard<std::mutex> lock(g_backend.tableLock);
    auto it = g_backend.links.find(linkId);
    if (it == g_backend.links.end()) return false;
    recent = RecentLink{g_backend.linksVersion.load(std::memory_order_relaxed), linkId, it->second};
    if (copy) *copy = it->second;
    return true;
}

void DestroyVendorLink(uint32_t hMod, uint32_t hCLL) {
    CallPDUDisconnect(hMod, hCLL);
    CallPDUDestroyComLogicalLink(hMod, hCLL);
}

void ResetBackendForTests() {
    VendorKnowledge& k = g_backend.learnt;
    k.rawModeAttempts = true;
    k.txMaxLenRejected = false;
    for (std::atomic<int>& support : k.canFdSupport) support = 0;
    {
        std::lock_guard<std::mutex> lock(k.rejectedLock);
        k.rejectedComParams.clear();
    }
    DoipModuleState& d = g_backend.doip;
    d.doipState = -1;
    d.doipResourceId = 0;
    d.entityModuleId = 0;
    d.ethSwitchIoctlId = 0;
    d.ethSwitchOn = false;
    NoResponseCount& n = g_backend.noResponse;
    n.events = n.atLastLine = n.lastLineTick = 0;
    n.logged = false;
    g_backend.api.createOrder = 0;
    g_backend.keepToolkitLoaded = false;
}

bool Dpdu_IsInitialised() { return g_backend.initialised.load(); }
bool Dpdu_IsCommLost() { return g_backend.commLost.load(); }
bool Dpdu_IsClosing() { return g_backend.api.closing.load(); }
void Dpdu_SetClosing(bool raised) { g_backend.api.closing = raised; }
