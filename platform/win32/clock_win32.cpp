// Ticks and sleeps. Sleep() waits in whole timer ticks (15.6 ms unless some program raised the
// resolution), so short waits use a high-resolution waitable timer where Windows has one
// (10 version 1803 and later) and otherwise sleep coarsely and yield up to the deadline.
#include <windows.h>

#include <atomic>

#include "platform/platform.h"
#include "platform/test_clock.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace platform {

namespace {
uint64_t QpcUs() {
    static const uint64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<uint64_t>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
    return ticks / frequency * 1000000u + ticks % frequency * 1000000u / frequency;
}

// How much later than asked a timer wait ends, in µs (a running average): the timer waits
// for what lies beyond it, and the rest is spent spinning up to the deadline (a yield on a busy
// machine would give the processor away for a whole time slice).
std::atomic<uint32_t> g_timerLateUs{0};

bool WaitHighResolution(uint32_t us) {
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    if (!timer) return false;
    const uint64_t start = QpcUs();
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(us) * 10;  // relative, in 100 ns units
    bool ok = SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) &&
              WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0;
    CloseHandle(timer);
    if (ok) {
        uint64_t took = QpcUs() - start;
        uint32_t late = took > us ? static_cast<uint32_t>(took - us) : 0;
        g_timerLateUs.store((g_timerLateUs.load() * 3 + late) / 4);
    }
    return ok;
}

void SpinUntil(uint64_t deadline) {
    const uint64_t now = QpcUs();
    // Whole ticks of sleep only where a tick certainly ends before the deadline.
    if (deadline > now + 20000) ::Sleep(static_cast<DWORD>((deadline - now - 20000) / 1000));
    while (QpcUs() < deadline) {
    }
}
}  // namespace

uint32_t TickCount32() {
    if (const TestClock* c = ActiveTestClock()) return static_cast<uint32_t>(c->nowUs(c->context) / 1000u);
    return GetTickCount();
}

uint64_t TickCount64() {
    if (const TestClock* c = ActiveTestClock()) return c->nowUs(c->context) / 1000u;
    return GetTickCount64();
}

uint64_t MonotonicUs() {
    if (const TestClock* c = ActiveTestClock()) return c->nowUs(c->context);
    return QpcUs();
}

void SleepMs(uint32_t ms) {
    if (const TestClock* c = ActiveTestClock()) return c->sleepUs(c->context, uint64_t(ms) * 1000u);
    ::Sleep(ms);
}

void PollPauseUs(uint32_t us) {
    if (const TestClock* c = ActiveTestClock()) return c->sleepUs(c->context, us);
    if (!WaitHighResolution(us)) ::Sleep(1);
}

void SleepPreciseUs(uint32_t us) {
    if (const TestClock* c = ActiveTestClock()) return c->sleepUs(c->context, us);
    if (us == 0) return;
    const uint64_t deadline = QpcUs() + us;
    const uint32_t late = g_timerLateUs.load();
    if (us > late) WaitHighResolution(us - late);
    SpinUntil(deadline);
}

}  // namespace platform
