// Ticks and sleeps on CLOCK_MONOTONIC.
#include <cerrno>
#include <ctime>

#include "platform/platform.h"
#include "platform/test_clock.h"

namespace platform {

namespace {
uint64_t SystemMonotonicUs() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

void SystemSleepUs(uint64_t us) {
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(us / 1000000u);
    ts.tv_nsec = static_cast<long>(us % 1000000u) * 1000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}
}  // namespace

uint64_t MonotonicUs() {
    if (const TestClock* c = ActiveTestClock()) return c->nowUs(c->context);
    return SystemMonotonicUs();
}

uint64_t TickCount64() { return MonotonicUs() / 1000u; }
uint32_t TickCount32() { return static_cast<uint32_t>(TickCount64()); }

namespace {
void SleepUs(uint64_t us) {
    if (const TestClock* c = ActiveTestClock()) return c->sleepUs(c->context, us);
    SystemSleepUs(us);
}
}  // namespace

void SleepMs(uint32_t ms) { SleepUs(uint64_t(ms) * 1000u); }
void SleepPreciseUs(uint32_t us) { SleepUs(us); }

}  // namespace platform
