// PassThruStartMsgFilter and PassThruStopMsgFilter, and what the filters let through.
#include "driver/api/filters.h"

#include <algorithm>

#include "driver/api/api_impl.h"
#include "driver/api/device.h"
#include "driver/api/host_message.h"
#include "driver/api/last_error.h"
#include "driver/log/log.h"
#include "platform/platform.h"

bool FilterMatches(const FilterRecord& f, const j2534::PASSTHRU_MSG& m) {
    if (f.mask.ProtocolID != 0 && f.mask.ProtocolID != m.ProtocolID) return false;
    const auto n = std::min({f.mask.DataSize, m.DataSize, f.pattern.DataSize, j2534::ULONG{j2534::kMaxDataSize}});
    for (j2534::ULONG i = 0; i < n; ++i)
        if ((m.Data[i] & f.mask.Data[i]) != (f.pattern.Data[i] & f.mask.Data[i])) return false;
    return true;
}

bool PassesFilters(const std::vector<FilterRecord>& filters, const j2534::PASSTHRU_MSG& m) {
    bool anyPass = false, passed = false;
    for (const FilterRecord& f : filters) {
        const bool match = FilterMatches(f, m);
        if (f.filterType == j2534::BLOCK_FILTER && match) return false;
        if (f.filterType == j2534::PASS_FILTER || f.filterType == j2534::FLOW_CONTROL_FILTER) {
            anyPass = true;
            passed = passed || match;
        }
    }
    return !anyPass || passed;
}

int32_t PassThruStartMsgFilterImpl(uint32_t ChannelID, uint32_t FilterType, j2534::PASSTHRU_MSG* pMaskMsg,
                                   j2534::PASSTHRU_MSG* pPatternMsg, j2534::PASSTHRU_MSG* pFlowControlMsg,
                                   j2534::ULONG* pFilterID) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    ChannelContext* ch = FindChannel(ChannelID);
    if (!ch) return j2534::ERR_INVALID_CHANNEL_ID;
    if (!pFilterID || !pMaskMsg || !pPatternMsg) return j2534::ERR_NULL_PARAMETER;
    if (FilterType != j2534::PASS_FILTER && FilterType != j2534::BLOCK_FILTER &&
        FilterType != j2534::FLOW_CONTROL_FILTER) {
        SetLastErrorText("Invalid filter type");
        return j2534::ERR_INVALID_FILTER_ID;
    }
    FilterRecord f;
    f.filterType = FilterType;
    int32_t rc = CopyHostMessage(pMaskMsg, &f.mask);
    if (rc == j2534::STATUS_NOERROR) rc = CopyHostMessage(pPatternMsg, &f.pattern);
    if (rc != j2534::STATUS_NOERROR) return rc;
    f.filterId = ch->nextFilterId++;
    if (FilterType == j2534::FLOW_CONTROL_FILTER) {
        if (!pFlowControlMsg) return j2534::ERR_NULL_PARAMETER;
        rc = CopyHostMessage(pFlowControlMsg, &f.flowControl);
        if (rc != j2534::STATUS_NOERROR) return rc;
    }
    if (!WriteHostWord(pFilterID, f.filterId)) return j2534::ERR_NULL_PARAMETER;
    ch->filters.push_back(f);
    LogPrintf("PassThruStartMsgFilter: ch=%lu type=0x%lx id=%lu", static_cast<unsigned long>(ChannelID),
              static_cast<unsigned long>(FilterType), static_cast<unsigned long>(f.filterId));
    return j2534::STATUS_NOERROR;
}

int32_t PassThruStopMsgFilterImpl(uint32_t ChannelID, uint32_t FilterID) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    ChannelContext* ch = FindChannel(ChannelID);
    if (!ch) return j2534::ERR_INVALID_CHANNEL_ID;
    auto it = std::find_if(ch->filters.begin(), ch->filters.end(),
                           [&](const FilterRecord& f) { return f.filterId == FilterID; });
    if (it == ch->filters.end()) return j2534::ERR_INVALID_FILTER_ID;
    ch->filters.erase(it);
    LogPrintf("PassThruStopMsgFilter: ch=%lu id=%lu", static_cast<unsigned long>(ChannelID),
              static_cast<unsigned long>(FilterID));
    return j2534::STATUS_NOERROR;
}

int ClearHostFilters(uint32_t channelId) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    ChannelContext* ch = FindChannel(channelId);
    if (!ch) return -1;
    const size_t before = ch->filters.size();
    ch->filters.erase(std::remove_if(ch->filters.begin(), ch->filters.end(),
                                     [](const FilterRecord& f) { return !f.driverOwned; }),
                      ch->filters.end());
    return static_cast<int>(before - ch->filters.size());
}
