// Ticks and sleeps on CLOCK_MONOTONIC.
#include <atomic>
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

// How much later than asked a sleep ends, in µs (a running average): precise waits sleep for
// what lies beyond it and spin for the rest, so that a 1 ms pacing stays 1 ms. Spinning, not
// yielding: on a busy machine a yield gives the processor away for a whole time slice.
std::atomic<uint32_t> g_sleepLateUs{0};

void SystemSleepPreciseUs(uint32_t us) {
    const uint64_t start = SystemMonotonicUs();
    const uint64_t deadline = start + us;
    const uint32_t late = g_sleepLateUs.load(std::memory_order_relaxed);
    if (us > late) {
        SystemSleepUs(us - late);
        const uint64_t woke = SystemMonotonicUs();
        const uint64_t asked = start + (us - late);
        const uint32_t lateNow = woke > asked ? static_cast<uint32_t>(woke - asked) : 0;
        g_sleepLateUs.store((late * 3 + lateNow) / 4, std::memory_order_relaxed);
    }
    while (SystemMonotonicUs() < deadline) {
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

void PollPauseUs(uint32_t us) { SleepUs(us); }

void SleepPreciseUs(uint32_t us) {
    if (const TestClock* c = ActiveTestClock()) return c->sleepUs(c->context, us);
    SystemSleepPreciseUs(us);
}

}  // namespace platform
