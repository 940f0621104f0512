// Message filters of a channel: what they let through to the host, and the host's own filters.
#pragma once

#include <cstdint>
#include <vector>

#include "common/j2534.h"
#include "driver/api/channel.h"

// A filter matches when its mask's protocol is 0 or the message's, and the message agrees with
// the pattern under the mask over the bytes that mask, pattern and message all have.
bool FilterMatches(const FilterRecord& filter, const j2534::PASSTHRU_MSG& msg);
// No filters: everything passes. Otherwise a message needs a matching PASS or FLOW_CONTROL
// filter when there is any, and no matching BLOCK filter.
bool PassesFilters(const std::vector<FilterRecord>& filters, const j2534::PASSTHRU_MSG& msg);

// CLEAR_MSG_FILTERS: removes the filters the host started on the channel and keeps the response
// filters the driver installed at connect. The number removed, or -1 for an unknown channel.
int ClearHostFilters(uint32_t channelId);
