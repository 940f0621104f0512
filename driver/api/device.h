// The one J2534 device of the process, its channels and the device lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>

#include "driver/api/channel.h"

struct DeviceContext {
    bool isOpen = false;
    uint32_t deviceId = 0;
    std::list<ChannelContext> channels;  // creation order; owned here
    uint32_t nextChannelId = 1;          // never reset: ids are not reused in a process
    std::atomic<uint32_t> programmingVoltage{0};  // written without the lock
};

constexpr uint32_t kDeviceId = 1;

extern DeviceContext g_device;
// One process-wide, non-recursive lock over g_device and every channel.
extern std::mutex g_deviceLock;

// Caller holds g_deviceLock. deviceId 0 stands for the open device; callerName may be null.
int32_t CheckDeviceOpen(uint32_t deviceId, const char* callerName);
// Caller holds g_deviceLock. Null when no channel has this id.
ChannelContext* FindChannel(uint32_t channelId);
