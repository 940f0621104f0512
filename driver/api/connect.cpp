// PassThruConnect and PassThruDisconnect.
#include "driver/api/api_impl.h"
#include "driver/api/device.h"
#include "driver/config/log.h"

namespace {
int32_t ConnectBody(uint32_t DeviceID, uint32_t ProtocolID, uint32_t BaudRate, uint32_t* pChannelID) {
    if (!pChannelID) return j2534::ERR_NULL_PARAMETER;
    if (BaudRate == 0 && (ProtocolID == j2534::CAN || ProtocolID == j2534::ISO15765 ||
                          ProtocolID == j2534::ISO15765_FD_ALT || ProtocolID == j2534::SCI_A_TRANS)) {
        LogPrintf("PassThruConnect: clamp baud %lu -> %lu", 0ul, 500000ul);
    }
    std::lock_guard<std::mutex> lock(g_deviceLock);
    int32_t rc = CheckDeviceOpen(DeviceID, "PassThruConnect");
    if (rc != j2534::STATUS_NOERROR) return rc;
    // Channels need the D-PDU backend, which this build does not bring up yet.
    return j2534::ERR_DEVICE_NOT_CONNECTED;
}
}  // namespace

int32_t PassThruConnectImpl(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags, uint32_t BaudRate,
                            uint32_t* pChannelID) {
    LogPrintf("=== START proto=0x%lX baud=%lu ===", static_cast<unsigned long>(ProtocolID),
              static_cast<unsigned long>(BaudRate));
    LogPrintf("PassThruConnect: devId=%lu proto=0x%lX flags=0x%lX baud=%lu", static_cast<unsigned long>(DeviceID),
              static_cast<unsigned long>(ProtocolID), static_cast<unsigned long>(Flags),
              static_cast<unsigned long>(BaudRate));
    int32_t rc = j2534::ERR_FAILED;
    try {
        rc = ConnectBody(DeviceID, ProtocolID, BaudRate, pChannelID);
    } catch (...) {
        LogPrintf("=== END rc=%ld ===", static_cast<long>(j2534::ERR_FAILED));
        throw;
    }
    LogPrintf("=== END rc=%ld ===", static_cast<long>(rc));
    return rc;
}

int32_t PassThruDisconnectImpl(uint32_t ChannelID) {
    WriteLogLine("PassThruDisconnect");
    std::lock_guard<std::mutex> lock(g_deviceLock);
    int32_t rc = CheckDeviceOpen(0, "PassThruDisconnect");
    if (rc != j2534::STATUS_NOERROR) return rc;
    for (auto it = g_device.channels.begin(); it != g_device.channels.end(); ++it) {
        if (it->channelId == ChannelID) {
            g_device.channels.erase(it);
            return j2534::STATUS_NOERROR;
        }
    }
    return j2534::ERR_INVALID_CHANNEL_ID;
}
