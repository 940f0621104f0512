#include "driver/api/host_message.h"

#include <cstddef>
#include <cstring>

#include "driver/api/last_error.h"
#include "platform/platform.h"

int32_t CopyHostMessage(const j2534::PASSTHRU_MSG* hostMsg, j2534::PASSTHRU_MSG* copy) {
    constexpr size_t kHeaderSize = offsetof(j2534::PASSTHRU_MSG, Data);
    std::memset(copy, 0, sizeof *copy);
    if (!platform::CopyGuarded(copy, hostMsg, kHeaderSize)) {
        SetLastErrorText("Invalid message: record not readable");
        return j2534::ERR_INVALID_MSG;
    }
    if (copy->DataSize > j2534::kMaxDataSize) {
        SetLastErrorText("Invalid message: DataSize exceeds buffer");
        return j2534::ERR_INVALID_MSG;
    }
    if (!platform::CopyGuarded(copy->Data, hostMsg->Data, copy->DataSize)) {
        SetLastErrorText("Invalid message: record not readable");
        return j2534::ERR_INVALID_MSG;
    }
    return j2534::STATUS_NOERROR;
}
