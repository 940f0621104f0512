// PassThruOpen and PassThruClose.
#include "driver/api/api_impl.h"
#include "driver/api/device.h"
#include "driver/config/driver_config.h"
#include "driver/config/log.h"

int32_t PassThruOpenImpl(const void*, uint32_t* pDeviceID) {
    LoadDriverConfig();
    WriteLogLine("PassThruOpen");
    if (!pDeviceID) return j2534::ERR_NULL_PARAMETER;
    std::lock_guard<std::mutex> lock(g_deviceLock);
    if (g_device.isOpen) return j2534::ERR_DEVICE_IN_USE;
    g_device.deviceId = kDeviceId;
    g_device.isOpen = true;
    g_device.channels.clear();
    *pDeviceID = kDeviceId;
    return j2534::STATUS_NOERROR;
}

int32_t PassThruCloseImpl(uint32_t DeviceID) {
    WriteLogLine("PassThruClose");
    std::lock_guard<std::mutex> lock(g_deviceLock);
    int32_t rc = CheckDeviceOpen(DeviceID, "PassThruClose");
    g_device.channels.clear();
    g_device.isOpen = false;
    return rc;
}
