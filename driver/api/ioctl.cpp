// PassThruIoctl and PassThruSetProgrammingVoltage.
#include <cstdio>

#include "driver/api/api_impl.h"
#include "driver/api/device.h"
#include "driver/api/last_error.h"
#include "driver/config/driver_config.h"
#include "driver/config/log.h"

int32_t PassThruIoctlImpl(uint32_t ChannelID, uint32_t IoctlID, void*, void*) {
    LoadDriverConfig();
    char line[128];
    std::snprintf(line, sizeof line, "PassThruIoctl(Channel=%lu, IoctlID=%lu)", static_cast<unsigned long>(ChannelID),
                  static_cast<unsigned long>(IoctlID));
    WriteLogLine(line);
    {
        std::lock_guard<std::mutex> lock(g_deviceLock);
        int32_t rc = CheckDeviceOpen(0, "PassThruIoctl");
        if (rc != j2534::STATUS_NOERROR) return rc;
    }
    return j2534::ERR_FAILED;  // the device is open: not "not connected"
}

int32_t PassThruSetProgrammingVoltageImpl(uint32_t, uint32_t, uint32_t Voltage) {
    SetLastErrorText("OK");
    g_device.programmingVoltage = Voltage;
    WriteLogLine("PassThruSetProgrammingVoltage (store-only)");
    return j2534::STATUS_NOERROR;
}
