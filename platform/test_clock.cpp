#include "platform/test_clock.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<const TestClock*> g_testClock{nullptr};
}

void SetTestClock(const TestClock* clock) { g_testClock.store(clock); }

const TestClock* ActiveTestClock() { return g_testClock.load(std::memory_order_relaxed); }

}  // namespace platform
