#include "driver/api/device.h"

#include "common/j2534.h"
#include "driver/api/last_error.h"
#include "driver/config/log.h"

DeviceContext g_device;
std::mutex g_deviceLock;

int32_t CheckDeviceOpen(uint32_t deviceId, const char* callerName) {
    if (!g_device.isOpen) {
        SetLastErrorText("Device not open.");
        if (callerName) LogPrintf("%s: device not open", callerName);
        return j2534::ERR_DEVICE_NOT_CONNECTED;
    }
    if (deviceId == 0 || deviceId == g_device.deviceId) return j2534::STATUS_NOERROR;
    return j2534::ERR_INVALID_DEVICE_ID;
}

ChannelContext* FindChannel(uint32_t channelId) {
    for (ChannelContext& ch : g_device.channels)
        if (ch.channelId == channelId) return &ch;
    return nullptr;
}
