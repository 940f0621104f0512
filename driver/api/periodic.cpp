// PassThruStartPeriodicMsg and PassThruStopPeriodicMsg.
#include "driver/api/api_impl.h"
#include "driver/api/device.h"

int32_t PassThruStartPeriodicMsgImpl(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, uint32_t* pMsgID,
                                     uint32_t TimeInterval) {
    if (!pMsg || !pMsgID) return j2534::ERR_NULL_PARAMETER;
    if (TimeInterval == 0) return j2534::ERR_INVALID_TIME_INTERVAL;
    std::lock_guard<std::mutex> lock(g_deviceLock);
    if (!FindChannel(ChannelID)) return j2534::ERR_INVALID_CHANNEL_ID;
    return j2534::ERR_FAILED;
}

int32_t PassThruStopPeriodicMsgImpl(uint32_t ChannelID, uint32_t) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    if (!FindChannel(ChannelID)) return j2534::ERR_INVALID_CHANNEL_ID;
    return j2534::ERR_INVALID_MSG_ID;
}
