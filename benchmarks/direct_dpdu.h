// The yardstick of the round-trip benchmarks: one diagnostic request and its answer made
// straight on a copy of the simulated VCI's D-PDU API, as lean as a caller can be.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DirectDpduLink;

// Loads the library and connects an ISO 15765 link with this resource id on its first module.
DirectDpduLink* OpenDirectDpduLink(const std::string& libraryPath, uint32_t resourceId);
// Microseconds per round trip of request (CAN id in front); isAnswer tells the awaited answer
// from other results.
double DirectDpduRoundTripUs(DirectDpduLink* link, const std::vector<uint8_t>& request,
                             bool (*isAnswer)(const uint8_t* data, size_t length), int rounds);
void CloseDirectDpduLink(DirectDpduLink* link);

// Round trips are measured in chunks taken in turns, each side keeping its fastest chunk, so
// that the ratio holds on a machine that is busy with other work.
constexpr int kChunks = 20;
