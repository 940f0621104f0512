// PassThruStartMsgFilter and PassThruStopMsgFilter, and what the filters let through.
#include "driver/api/filters.h"

#include <algorithm>

#include "driver/api/api_impl.h"
#include "driver/api/device.h"

bool FilterMatches(const FilterRecord& f, const j2534::PASSTHRU_MSG& m) {
    if (f.mask.ProtocolID != 0 && f.mask.ProtocolID != m.ProtocolID) return false;
    const uint32_t n = std::min({f.mask.DataSize, m.DataSize, f.pattern.DataSize, j2534::kMaxDataSize});
    for (uint32_t i = 0; i < n; ++i)
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
