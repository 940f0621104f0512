// PassThruStartMsgFilter and PassThruStopMsgFilter.
#include "driver/api/api_impl.h"
#include "driver/api/device.h"

int32_t PassThruStartMsgFilterImpl(uint32_t ChannelID, uint32_t, j2534::PASSTHRU_MSG* pMaskMsg,
                                   j2534::PASSTHRU_MSG* pPatternMsg, j2534::PASSTHRU_MSG*, uint32_t* pFilterID) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    if (!FindChannel(ChannelID)) return j2534::ERR_INVALID_CHANNEL_ID;
    if (!pFilterID || !pMaskMsg || !pPatternMsg) return j2534::ERR_NULL_PARAMETER;
    return j2534::ERR_FAILED;
}

int32_t PassThruStopMsgFilterImpl(uint32_t ChannelID, uint32_t) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    if (!FindChannel(ChannelID)) return j2534::ERR_INVALID_CHANNEL_ID;
    return j2534::ERR_INVALID_FILTER_ID;
}
