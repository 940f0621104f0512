// Host sessions one after another in one process, measuring what the process holds: the short
// form runs in the tests, the long form in benchmarks/.
#pragma once

#include <cstdint>
#include <string>

#include "common/j2534_functions.h"
#include "platform/platform.h"

// After the warm-up, later sessions may add no thread, a few handles and at most this much
// memory: one leaked handle, channel record or D-PDU result per session would pass these within
// a hundred sessions, while under Wine the same hundred sessions end up to three handles apart
// from run to run; allocator pools that grow once stay far below the memory bound.
constexpr uint64_t kSoakHandleGrowth = 8;
constexpr uint64_t kSoakThreadGrowth = 0;
constexpr uint64_t kSoakMemoryGrowth = 256 * 1024;

struct SoakReport {
    uint64_t warmUp = 0;
    int sessions = 0;            // sessions that went through
    std::string failure;         // the first session that did not, described
    platform::ProcessResources afterWarmUp;
    platform::ProcessResources atEnd;
    platform::ProcessResources peak;  // the largest of each, taken every ten sessions after the warm-up
};

// warmUp sessions, then the resources are taken, then the others up to total.
SoakReport RunSoak(const J2534Functions& f, int warmUp, int total, uint32_t readTimeoutMs);
// What loading, constructing, destructing and unloading the vendor library costs the process by
// itself, per round (rounded up): every session does it, and what the library keeps of it is its
// own doing, not the driver's. On Windows a library statically linked with the C++ runtime keeps
// a few handles and some heap of every load.
platform::ProcessResources VendorLibraryCycleCost(const std::string& libraryPath);
// The same for a J2534 library: loaded, opened, closed and unloaded.
platform::ProcessResources DriverLibraryCycleCost(const std::string& libraryPath);
// Empty when the growth stayed within the bounds above plus, for every session after the warm-up,
// perSession, else what grew.
std::string SoakGrowthBeyondBounds(const SoakReport& r, const platform::ProcessResources& perSession);
// One line: the resources at the end against those after the warm-up.
std::string SoakSummary(const SoakReport& r);
