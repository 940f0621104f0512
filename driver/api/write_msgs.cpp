// PassThruWriteMsgs.
#include <cstdint>

#include "driver/api/api_impl.h"
#include "driver/api/device.h"
#include "driver/api/last_error.h"
#include "driver/config/log.h"

int32_t PassThruWriteMsgsImpl(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs, uint32_t Timeout) {
    // The count is read only after the pointer and device checks, and only under a guard.
    if (!pMsg || !pNumMsgs) return j2534::ERR_NULL_PARAMETER;
    LogPrintf("WriteMsgs ENTRY: pMsg=%p pNumMsgs=%p Timeout=%lu", static_cast<void*>(pMsg),
              static_cast<void*>(pNumMsgs), static_cast<unsigned long>(Timeout));
    if (reinterpret_cast<uintptr_t>(pMsg) < 0x10000) {
        SetLastErrorText("PassThruWriteMsgs: pMsg pointer too small (ABI mismatch)");
        return j2534::ERR_NULL_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(g_deviceLock);
    int32_t rc = CheckDeviceOpen(0, "PassThruWriteMsgs");
    if (rc != j2534::STATUS_NOERROR) return rc;
    if (!FindChannel(ChannelID)) return j2534::ERR_INVALID_CHANNEL_ID;
    return j2534::ERR_FAILED;
}
