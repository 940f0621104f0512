// Process-wide state of the D-PDU backend shared by its operations: the backend type, the
// module and link tables (under one leaf lock, never held across a vendor call) and the
// shared flags.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "driver/config/backend_type.h"
#include "driver/dpdu/dpdu_backend.h"

struct DpduLink {
    uint32_t hMod = 0;
    uint32_t hCLL = 0;
    bool rawMode = false;
    bool canIdMode = false;
    bool payloadOnly = false;
    bool iso15765 = false;
    uint8_t flagData[4] = {0, 0, 0, 0};
    uint32_t resourceId = 0;
    std::string logicalLinkName;
    uint32_t lastCoP = 0;
    uint64_t lastStartTick = 0;
};

struct DpduBackend {
    std::atomic<bool> initialised{false};
    std::atomic<int32_t> useCount{0};
    std::atomic<bool> commLost{false};
    std::atomic<bool> keepToolkitLoaded{false};
    std::atomic<uint32_t> nextModuleId{0};
    std::mutex tableLock;
    std::map<uint32_t, uint32_t> moduleTable;  // module id -> hMod
    std::map<uint32_t, DpduLink> links;        // link id -> link
    uint32_t nextLinkId = 0;
    std::mutex moduleOpenLock;
};

extern DpduBackend g_dpdu;

BackendType CurrentBackendType();
bool LookupModule(uint32_t moduleId, uint32_t* hMod);
bool LookupLink(uint32_t linkId, DpduLink* copy);
// Disconnects and destroys one link in the vendor library (the record is the caller's).
void DestroyVendorLink(uint32_t hMod, uint32_t hCLL);

// What the backend learnt about the vendor library for the rest of the process (rejected
// ComParams, raw mode, CAN FD support); tests start each case from scratch.
void ForgetVendorKnowledge();
void ForgetRejectedComParams();

// Fixed pauses of the backend go through here, so tests can count them instead of waiting.
extern void (*g_dpduSleep)(uint32_t ms);
inline void DpduSleepMs(uint32_t ms) { g_dpduSleep(ms); }
