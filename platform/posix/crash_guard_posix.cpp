// Crash guard on POSIX: handlers for the synchronous crash signals jump back to the guarded
// call that is running on the faulting thread; on any other thread, or outside a guarded
// call, the signal goes on to whatever handler was installed before (or the default action).
#include "platform/platform.h"
#include "platform/posix/library_threads.h"

#include <setjmp.h>
#include <signal.h>

#include <atomic>
#include <mutex>

namespace platform {

namespace {

struct GuardFrame {
    sigjmp_buf resume;
    GuardFrame* outer;
};

thread_local GuardFrame* t_frame = nullptr;

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
struct sigaction g_previous[kSignalCount];
std::mutex g_installLock;

void OnCrashSignal(int sig, siginfo_t* info, void* ucontext) {
    GuardFrame* frame = t_frame;
    if (frame) {
        t_frame = frame->outer;
        siglongjmp(frame->resume, sig);
    }
    for (int i = 0; i < kSignalCount; ++i) {
        if (kSignals[i] != sig) continue;
        const struct sigaction& prev = g_previous[i];
        if (prev.sa_flags & SA_SIGINFO) {
            if (prev.sa_sigaction) {
                prev.sa_sigaction(sig, info, ucontext);
                return;
            }
        } else if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
            prev.sa_handler(sig);
            return;
        }
    }
    // Default action: the signal is blocked while we run, so it is delivered on return.
    signal(sig, SIG_DFL);
    raise(sig);
}

// Installed on every guarded call, so a handler the host set up later does not take the
// guard's place; the host's handler is then the one crashes outside the guard reach.
void EnsureInstalled() {
    std::lock_guard<std::mutex> lock(g_installLock);
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction current;
        if (sigaction(kSignals[i], nullptr, &current) != 0) continue;
        if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == &OnCrashSignal) continue;
        struct sigaction mine;
        sigemptyset(&mine.sa_mask);
        mine.sa_flags = SA_SIGINFO | SA_ONSTACK;
        mine.sa_sigaction = &OnCrashSignal;
        g_previous[i] = current;
        sigaction(kSignals[i], &mine, nullptr);
    }
}

std::atomic<bool> g_installedOnce{false};

}  // namespace

void ReleaseCrashHandlers() {
    if (!g_installedOnce.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(g_installLock);
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction current;
        if (sigaction(kSignals[i], nullptr, &current) != 0) continue;
        if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == &OnCrashSignal)
            sigaction(kSignals[i], &g_previous[i], nullptr);
    }
}

bool RunGuardedQuick(void (*fn)(void*), void* context, uint32_t* exceptionCode) {
    if (exceptionCode) *exceptionCode = 0;
    if (!fn) return true;
    if (!g_installedOnce.load(std::memory_order_acquire)) {
        EnsureInstalled();
        g_installedOnce.store(true, std::memory_order_release);
    }
    GuardFrame*& current = t_frame;  // one thread-local lookup, not three
    GuardFrame frame;
    frame.outer = current;
    // No signal mask is saved (that would be a system call per call); a caught signal is still
    // blocked after the jump and is unblocked below.
    int sig = sigsetjmp(frame.resume, 0);
    if (sig == 0) {
        current = &frame;
        fn(context);
        current = frame.outer;
        return true;
    }
    sigset_t caught;
    sigemptyset(&caught);
    sigaddset(&caught, sig);
    pthread_sigmask(SIG_UNBLOCK, &caught, nullptr);
    if (exceptionCode) *exceptionCode = static_cast<uint32_t>(sig);
    return false;
}

bool RunGuarded(void (*fn)(void*), void* context, uint32_t* exceptionCode) {
    if (exceptionCode) *exceptionCode = 0;
    if (!fn) return true;
    EnsureInstalled();
    g_installedOnce.store(true, std::memory_order_release);
    GuardFrame frame;
    frame.outer = t_frame;
    int sig = sigsetjmp(frame.resume, 1);
    if (sig == 0) {
        t_frame = &frame;
        fn(context);
        t_frame = frame.outer;
        return true;
    }
    if (exceptionCode) *exceptionCode = static_cast<uint32_t>(sig);
    return false;
}

}  // namespace platform
