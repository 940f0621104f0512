// PassThruReadMsgs.
#include "driver/api/api_impl.h"
#include "driver/api/device.h"

int32_t PassThruReadMsgsImpl(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs, uint32_t) {
    if (!pMsg || !pNumMsgs || *pNumMsgs == 0) return j2534::ERR_NULL_PARAMETER;
    std::lock_guard<std::mutex> lock(g_deviceLock);
    int32_t rc = CheckDeviceOpen(0, "PassThruReadMsgs");
    if (rc != j2534::STATUS_NOERROR) return rc;
    if (!FindChannel(ChannelID)) return j2534::ERR_INVALID_CHANNEL_ID;
    *pNumMsgs = 0;
    return j2534::ERR_BUFFER_EMPTY;
}
