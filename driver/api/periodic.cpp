// PassThruStartPeriodicMsg, PassThruStopPeriodicMsg and CLEAR_PERIODIC_MSGS.
#include "driver/api/periodic.h"

#include <algorithm>

#include "driver/api/api_impl.h"
#include "driver/api/device.h"
#include "driver/api/host_message.h"
#include "driver/api/last_error.h"
#include "driver/log/log.h"
#include "platform/platform.h"

int32_t PassThruStartPeriodicMsgImpl(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pMsgID,
                                     uint32_t TimeInterval) {
    if (!pMsg || !pMsgID) return j2534::ERR_NULL_PARAMETER;
    if (TimeInterval == 0) return j2534::ERR_INVALID_TIME_INTERVAL;
    PeriodicRecord record;
    int32_t rc = CopyHostMessage(pMsg, &record.message);
    if (rc != j2534::STATUS_NOERROR) return rc;
    record.intervalMs = TimeInterval;

    std::lock_guard<std::mutex> lock(g_deviceLock);
    ChannelContext* ch = FindChannel(ChannelID);
    if (!ch) return j2534::ERR_INVALID_CHANNEL_ID;
    if (!EnsurePeriodicSenderLocked()) {
        SetLastErrorText("Periodic message sender could not be started");
        return j2534::ERR_FAILED;
    }
    record.msgId = ch->nextPeriodicId;
    if (!WriteHostWord(pMsgID, record.msgId)) return j2534::ERR_NULL_PARAMETER;
    ++ch->nextPeriodicId;
    record.nextDueUs = platform::MonotonicUs() + uint64_t(TimeInterval) * 1000u;
    ch->periodicMsgs.push_back(record);
    LogPrintf("PassThruStartPeriodicMsg: ch=%lu id=%lu interval=%lu", static_cast<unsigned long>(ChannelID),
              static_cast<unsigned long>(record.msgId), static_cast<unsigned long>(TimeInterval));
    return j2534::STATUS_NOERROR;
}

int32_t PassThruStopPeriodicMsgImpl(uint32_t ChannelID, uint32_t MsgID) {
    std::unique_lock<std::mutex> lock(g_deviceLock);
    ChannelContext* ch = FindChannel(ChannelID);
    if (!ch) return j2534::ERR_INVALID_CHANNEL_ID;
    auto& msgs = ch->periodicMsgs;
    auto it = std::find_if(msgs.begin(), msgs.end(), [&](const PeriodicRecord& r) { return r.msgId == MsgID; });
    if (it == msgs.end()) return j2534::ERR_INVALID_MSG_ID;
    msgs.erase(it);
    LogPrintf("PassThruStopPeriodicMsg: ch=%lu id=%lu", static_cast<unsigned long>(ChannelID),
              static_cast<unsigned long>(MsgID));
    WaitForPeriodicSendsLocked(lock);
    return j2534::STATUS_NOERROR;
}

void EndPeriodicMsgsLocked(std::unique_lock<std::mutex>& lock, uint32_t channelId) {
    for (auto& entry : g_device.channels)
        if (channelId == 0 || entry.first == channelId) entry.second.periodicMsgs.clear();
    WaitForPeriodicSendsLocked(lock);
}

int ClearPeriodicMsgs(uint32_t channelId) {
    std::unique_lock<std::mutex> lock(g_deviceLock);
    ChannelContext* ch = FindChannel(channelId);
    if (!ch) return -1;
    const int removed = static_cast<int>(ch->periodicMsgs.size());
    EndPeriodicMsgsLocked(lock, channelId);
    return removed;
}
