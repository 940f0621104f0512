// The one record of the D-PDU backend that its operations share: the vendor library, module and
// link tables, flags, and what the process learnt about the vendor library.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_set>

#include "driver/config/backend_type.h"
#include "driver/dpdu/api_table.h"
#include "driver/dpdu/dpdu_backend.h"
#include "platform/platform.h"

// A link as a send or receive needs it: a plain record, copied under the table lock.
struct DpduLink {
    uint32_t hMod = 0;
    uint32_t hCLL = 0;
    bool rawMode = false;
    bool canIdMode = false;
    bool payloadOnly = false;
    bool iso15765 = false;
    uint8_t flagData[4] = {0, 0, 0, 0};
    uint32_t resourceId = 0;
};

// What the backend learnt about the vendor library for the rest of the process.
struct VendorKnowledge {
    std::atomic<bool> rawModeAttempts{true};     // CP_RawMode has not been refused yet
    std::atomic<bool> txMaxLenRejected{false};   // CP_CANFDTxMaxDataLength refused on every value
    std::atomic<int> canFdSupport[3] = {{0}, {0}, {0}};  // per BackendType: 0 unknown, 1 yes, 2 no
    std::mutex rejectedLock;
    std::unordered_set<uint32_t> rejectedComParams;  // object ids whose read was refused
};

// DoIP through the module: what was switched on and found.
struct DoipModuleState {
    std::atomic<bool> ethSwitchOn{false};         // only then is it switched off
    std::atomic<uint32_t> ethSwitchIoctlId{0};    // object id of PDU_IOCTL_SET_ETH_SWITCH_STATE; 0 = not looked up
    std::atomic<uint32_t> entityModuleId{0};      // driver module id of the DoIP entity module; 0 = none
    // -1 unknown, 0 not supported (final unless a later answer says otherwise), 1 available.
    std::atomic<int> doipState{-1};
    std::atomic<uint32_t> doipResourceId{0};      // the resource id that worked or was found; 0 = none
};

// No-response events are counted, and logged at most once a second.
struct NoResponseCount {
    std::atomic<uint64_t> events{0};
    std::atomic<uint64_t> atLastLine{0};
    std::atomic<uint64_t> lastLineTick{0};
    std::atomic<bool> logged{false};
};

// The whole backend: the vendor library with its entry points, the module and link tables
// (under one leaf lock, never held across a vendor call), the shared flags and what was learnt.
struct DpduBackend {
    DpduApiTable api;
    // Held shared for the length of every vendor call and exclusively while the library is
    // loaded or unloaded, so a shutdown on one host thread never frees the code another thread
    // is still running.
    std::shared_mutex libraryUse;
    std::mutex ownedLock;
    std::unordered_set<const void*> ownedItems;  // items the driver made itself
    std::atomic<size_t> ownedCount{0};           // their number, so that most releases skip the lock

    std::atomic<bool> initialised{false};
    std::atomic<int32_t> useCount{0};
    std::atomic<bool> commLost{false};
    std::atomic<bool> keepToolkitLoaded{false};
    std::atomic<uint32_t> nextModuleId{0};
    std::mutex tableLock;
    std::map<uint32_t, uint32_t> moduleTable;  // module id -> hMod
    std::map<uint32_t, DpduLink> links;        // link id -> link
    // Counts the changes of links, each made under tableLock: a lookup that finds the count as
    // it was at its last lookup on this thread takes that link again without the lock.
    std::atomic<uint64_t> linksVersion{1};
    std::map<uint32_t, std::string> linkNames; // link id -> logical-link name, for the log
    uint32_t nextLinkId = 0;
    std::mutex moduleOpenLock;

    VendorKnowledge learnt;
    DoipModuleState doip;
    NoResponseCount noResponse;
    // Fixed pauses go through here, so tests can count them instead of waiting.
    void (*sleep)(uint32_t ms) = &platform::SleepMs;
};

extern DpduBackend g_backend;

BackendType CurrentBackendType();
bool LookupModule(uint32_t moduleId, uint32_t* hMod);
bool LookupLink(uint32_t linkId, DpduLink* copy);
// Forgets a link id: caller holds tableLock.
void EraseLinkLocked(uint32_t linkId);
// Every other change of links says so: caller holds tableLock.
void LinksChangedLocked();
// Disconnects and destroys one link in the vendor library (the record is the caller's).
void DestroyVendorLink(uint32_t hMod, uint32_t hCLL);

// Tests start each case from a backend that has learnt nothing: no rejected ComParams, raw mode
// and CAN FD unknown, no DoIP state, no count of no-response events, no remembered argument
// order, the toolkit not kept loaded. The pause hook stays as the test set it.
void ResetBackendForTests();

inline void DpduSleepMs(uint32_t ms) { g_backend.sleep(ms); }
