// The one J2534 device of the process, its channels, the device lock, and the backend
// bring-up and tear-down that open, close, connect and the comm-lost back-off share.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "driver/api/channel.h"
#include "driver/config/session_profile.h"
#include "driver/dpdu/dpdu_backend.h"

struct DeviceContext {
    bool isOpen = false;
    uint32_t deviceId = 0;
    std::map<uint32_t, ChannelContext> channels;  // by id, which is creation order; owned here
    uint32_t nextChannelId = 1;          // never reset: ids are not reused in a process
    bool backendInitialized = false;
    bool moduleConnected = false;
    uint32_t moduleHandle = 0;  // backend module id; 0 = none
    void* instanceMutex = nullptr;
    bool instanceLockHeld = false;
    std::atomic<uint32_t> commLostNextAllowed{0};  // read and written by unlocked callers
    std::atomic<uint32_t> programmingVoltage{0};   // written without the lock
    std::atomic<uint32_t> lastVbatt{0};            // millivolts; READ_VBATT runs unlocked
    // What the profile rules decided; starts from the configuration when the library loads.
    SessionProfile session;
    // What the session means for the ISO 15765 translation and for sending, worked out each time
    // the session changes rather than for every message.
    Iso15765Rules isoRules;
    DpduSendMode sendMode;
};

constexpr uint32_t kDeviceId = 1;
constexpr uint32_t kCommLostBackoffMs = 1000;
constexpr uint32_t kLockDeviceRetryPauseMs = 900;

extern DeviceContext g_device;
// One process-wide, non-recursive lock over g_device and every channel.
extern std::mutex g_deviceLock;

// Caller holds g_deviceLock. deviceId 0 stands for the open device; callerName may be null.
int32_t CheckDeviceOpen(uint32_t deviceId, const char* callerName);
// Caller holds g_deviceLock. Null when no channel has this id.
ChannelContext* FindChannel(uint32_t channelId);
// The read and write paths run their transports without the lock, on a copy of the channel's
// state: CopyChannelState takes it (false for an unknown id), WriteBackChannelState puts the
// transmit records the call changed (against their copies from before) back into the live
// record if the channel still exists. Both take the lock.
bool CopyChannelState(uint32_t channelId, ChannelState* copy);
struct ChannelTxRecords {
    Iso15765TxState iso;
    ChannelTxState tx;
};
void WriteBackChannelState(const ChannelTxRecords& before, const ChannelState& after);

// Caller holds g_deviceLock. The session as it now stands with the configuration, and the
// host looked at again (the profile rules keep an explicit profile).
void StartSessionFromConfigLocked();
void DetectHostProfileLocked();
void ApplyOpenProfileRulesLocked();

// Caller holds g_deviceLock. Closes every channel and link, the module and the backend
// (except the module kept for the next session in NoEcu mode with VW/ODIS hosts), and the
// instance lock.
void CleanupDeviceStateLocked();

// Caller holds g_deviceLock. Ends the channel's DoIP connection at once (a reader still
// waiting on it wakes) and drops the channel's hold on the client, which is freed with the last.
void CloseChannelDoip(ChannelContext& ch);

// Caller holds g_deviceLock. The device's view of the backend: Dpdu_Init with the markers the
// log shows for it (sets backendInitialized); a module opened for the device; the backend gone.
DpduResult InitBackendLocked();
void AdoptModuleLocked(uint32_t moduleHandle);
void ForgetBackendLocked();

// Caller holds g_deviceLock. Dpdu_OpenModule; when another application holds the module, one
// forced unload, a pause, one re-initialisation and one more open.
DpduResult OpenModuleWithRetry(uint32_t* moduleHandle);

// The VCI link is lost: wait out the back-off window and shut the backend down so that the
// next connect brings it up again. whereName may be null. HandleCommLost takes the device
// lock only to clear the backend fields; HandleCommLostLocked is for a caller holding it
// and also unloads a toolkit that is configured to stay loaded.
void HandleCommLost(const char* whereName);
void HandleCommLostLocked(const char* whereName);
// How long a comm-lost back-off starting at tick now waits, moving the window when a new one
// begins. A window end that lies in the past or implausibly far ahead starts a new window.
uint32_t CommLostWaitMs(uint32_t now, std::atomic<uint32_t>* nextAllowed, bool* newWindow);

// Closes the single-instance mutex if this process holds it.
void ReleaseInstanceLock();
