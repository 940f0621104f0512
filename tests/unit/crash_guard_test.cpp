// The crash guard: a crash inside a guarded call becomes a result, the thread and the
// process go on, and the guard claims nothing outside its own calls.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <setjmp.h>
#include <signal.h>
#endif

namespace {

// The first page is never mapped. Not a null pointer: the undefined-behaviour sanitizer would stop
// a write through one before it could crash.
volatile int* volatile g_nowhere = reinterpret_cast<volatile int*>(uintptr_t{16});

void WriteToNowhere(void*) { *g_nowhere = 1; }
void CountCall(void* ctx) { ++*static_cast<int*>(ctx); }

// What a write to an unmapped address is reported as. Some Wine hosts cannot tell the fault
// kind and report an illegal instruction instead of an access violation.
bool IsNowhereWriteCode(uint32_t code) {
#if defined(_WIN32)
    return code == 0xC0000005u || code == 0xC000001Du;
#else
    return code == SIGSEGV;
#endif
}

void CrashInNestedGuard(void* ctx) {
    uint32_t inner = 0;
    bool ok = platform::RunGuarded(&WriteToNowhere, nullptr, &inner);
    *static_cast<uint32_t*>(ctx) = ok ? 0 : inner;
}

void CrashInNestedQuickGuard(void* ctx) {
    uint32_t inner = 0;
    bool ok = platform::RunGuardedQuick(&WriteToNowhere, nullptr, &inner);
    *static_cast<uint32_t*>(ctx) = ok ? 0 : inner;
}

// A guarded call that ends normally leaves no claim behind: the next crash on this thread
// belongs to the enclosing handler (here an outer guard standing for the host's own).
void CrashAfterInnerGuard(void* ctx) {
    int calls = 0;
    platform::RunGuarded(&CountCall, &calls, nullptr);
    *static_cast<int*>(ctx) = calls;
    *g_nowhere = 2;
}

}  // namespace

TEST(CrashGuard, NormalCallRunsOnceAndReportsNoException) {
    int calls = 0;
    uint32_t code = 77;
    EXPECT_TRUE(platform::RunGuarded(&CountCall, &calls, &code));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(platform::RunGuarded(nullptr, nullptr, &code));
}

TEST(CrashGuard, AccessViolationBecomesAResultAndTheThreadGoesOn) {
    for (int round = 0; round < 3; ++round) {
        uint32_t code = 0;
        EXPECT_FALSE(platform::RunGuarded(&WriteToNowhere, nullptr, &code));
        EXPECT_TRUE(IsNowhereWriteCode(code)) << code;
    }
    int calls = 0;
    EXPECT_TRUE(platform::RunGuarded(&CountCall, &calls, nullptr));
    EXPECT_EQ(calls, 1);
}

// The guard for calls made on every message: the same results, and a caught crash leaves
// nothing blocked, so the next one is caught as well.
TEST(CrashGuard, QuickGuardCatchesCrashAfterCrash) {
    for (int round = 0; round < 3; ++round) {
        uint32_t code = 0;
        EXPECT_FALSE(platform::RunGuardedQuick(&WriteToNowhere, nullptr, &code));
        EXPECT_TRUE(IsNowhereWriteCode(code)) << code;
    }
    int calls = 0;
    uint32_t code = 77;
    EXPECT_TRUE(platform::RunGuardedQuick(&CountCall, &calls, &code));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(code, 0u);
    int target = 0;
    const int source = 5;
    EXPECT_TRUE(platform::CopyGuarded(&target, &source, sizeof source));
    EXPECT_EQ(target, 5);
    EXPECT_FALSE(platform::CopyGuarded(&target, const_cast<int*>(g_nowhere), sizeof target));
    uint32_t outer = 0;
    EXPECT_TRUE(platform::RunGuarded(&CrashInNestedQuickGuard, &code, &outer));
    EXPECT_TRUE(IsNowhereWriteCode(code)) << code;
}

TEST(CrashGuard, InnermostGuardClaimsTheCrash) {
    uint32_t inner = 0, outer = 0;
    EXPECT_TRUE(platform::RunGuarded(&CrashInNestedGuard, &inner, &outer));
    EXPECT_TRUE(IsNowhereWriteCode(inner)) << inner;
    EXPECT_EQ(outer, 0u);
}

TEST(CrashGuard, FinishedGuardDoesNotClaimLaterCrashes) {
    int innerCalls = 0;
    uint32_t outer = 0;
    EXPECT_FALSE(platform::RunGuarded(&CrashAfterInnerGuard, &innerCalls, &outer));
    EXPECT_EQ(innerCalls, 1);
    EXPECT_TRUE(IsNowhereWriteCode(outer)) << outer;
}

TEST(CrashGuard, CrashesOnSeveralThreadsAtOnce) {
    std::atomic<int> caught{0};
    std::thread threads[4];
    for (auto& t : threads)
        t = std::thread([&caught] {
            for (int i = 0; i < 20; ++i) {
                uint32_t code = 0;
                if (!platform::RunGuarded(&WriteToNowhere, nullptr, &code) && IsNowhereWriteCode(code)) ++caught;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(caught.load(), 80);
}

#if !defined(_WIN32)
namespace {
sigjmp_buf g_hostJump;
std::atomic<int> g_hostSignal{0};
void HostHandler(int sig) {
    g_hostSignal = sig;
    siglongjmp(g_hostJump, 1);
}
}  // namespace

// The host's own handler, installed before the guard was first used, still gets crashes
// that happen outside guarded calls.
TEST(CrashGuard, UnguardedCrashReachesTheHostHandler) {
    struct sigaction host, saved;
    sigemptyset(&host.sa_mask);
    host.sa_flags = 0;
    host.sa_handler = &HostHandler;
    sigaction(SIGSEGV, &host, &saved);
    uint32_t code = 0;
    EXPECT_FALSE(platform::RunGuarded(&WriteToNowhere, nullptr, &code));  // installs the guard
    EXPECT_TRUE(IsNowhereWriteCode(code)) << code;
    g_hostSignal = 0;
    if (sigsetjmp(g_hostJump, 1) == 0) WriteToNowhere(nullptr);
    EXPECT_EQ(g_hostSignal.load(), SIGSEGV);
    sigaction(SIGSEGV, &saved, nullptr);
}
#endif
