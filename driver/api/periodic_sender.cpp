// The one periodic sender thread: under the device lock it copies a message that is due, without
// it it writes the copy through PassThruWriteMsgs, and it waits for the next due time with the
// platform's precise wait (a plain sleep lasts a whole timer tick, 15.6 ms, on Windows).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "driver/api/api_impl.h"
#include "driver/capture/capture.h"
#include "driver/api/device.h"
#include "driver/api/periodic.h"
#include "platform/platform.h"

namespace {

// Longest wait between two looks at the lists: a message started meanwhile is seen this soon.
constexpr uint64_t kLookAgainUs = 5000;

// Under g_deviceLock, apart from stop.
struct Sender {
    bool running = false;  // a thread is in its loop
    bool sending = false;  // it is writing the message of send number sends
    uint64_t sends = 0;
    std::atomic<bool> stop{false};
};
Sender g_sender;
std::condition_variable g_sendDone;

bool AnyPeriodicMsgLocked() {
    for (const auto& entry : g_device.channels)
        if (!entry.second.periodicMsgs.empty()) return true;
    return false;
}

void RunSender(void*) {
    CaptureMarkThread(CaptureSender::Periodic);
    DuePeriodicMsg due;
    for (;;) {
        bool haveDue = false;
        uint64_t nextUs = UINT64_MAX;
        {
            std::lock_guard<std::mutex> lock(g_deviceLock);
            if (g_sender.sending) {
                g_sender.sending = false;
                g_sendDone.notify_all();
            }
            if (g_sender.stop || !g_device.isOpen || !AnyPeriodicMsgLocked()) {
                g_sender.running = false;
                return;
            }
            haveDue = TakeDuePeriodicMsgLocked(platform::MonotonicUs(), &due, &nextUs);
            if (haveDue) {
                g_sender.sending = true;
                ++g_sender.sends;
            }
        }
        if (haveDue) {
            try {
                j2534::ULONG one = 1;
                PassThruWriteMsgsImpl(due.channelId, &due.message, &one, 0);  // as a host's write; result not needed
            } catch (...) {
            }
            continue;
        }
        const uint64_t now = platform::MonotonicUs();
        const uint64_t wait = nextUs > now ? std::min(nextUs - now, kLookAgainUs) : kLookAgainUs;
        platform::SleepPreciseUs(static_cast<uint32_t>(wait));
    }
}

void StopSender(void*) { g_sender.stop = true; }

}  // namespace

bool TakeDuePeriodicMsgLocked(uint64_t nowUs, DuePeriodicMsg* due, uint64_t* nextUs) {
    ChannelContext* dueChannel = nullptr;
    PeriodicRecord* dueRecord = nullptr;
    uint64_t dueFollowing = UINT64_MAX;
    *nextUs = UINT64_MAX;
    for (auto& entry : g_device.channels) {
        ChannelContext& ch = entry.second;
        for (PeriodicRecord& r : ch.periodicMsgs) {
            const uint64_t intervalUs = uint64_t(r.intervalMs) * 1000u;
            if (r.nextDueUs > nowUs) {
                *nextUs = std::min(*nextUs, r.nextDueUs);
            } else if (r.nextDueUs + intervalUs < dueFollowing) {
                dueFollowing = r.nextDueUs + intervalUs;
                dueChannel = &ch;
                dueRecord = &r;
            }
        }
    }
    if (!dueRecord) return false;
    due->channelId = dueChannel->channelId;
    due->message = dueRecord->message;
    dueRecord->nextDueUs = nowUs + uint64_t(dueRecord->intervalMs) * 1000u;
    return true;
}

bool EnsurePeriodicSenderLocked() {
    if (g_sender.running) return true;
    g_sender.stop = false;
    g_sender.running = platform::StartLibraryThread(&RunSender, &StopSender, nullptr);
    return g_sender.running;
}

void WaitForPeriodicSendsLocked(std::unique_lock<std::mutex>& lock) {
    if (!g_sender.sending) return;
    const uint64_t send = g_sender.sends;
    g_sendDone.wait_for(lock, std::chrono::milliseconds(kMostPeriodicSendWaitMs),
                        [send] { return !g_sender.sending || g_sender.sends != send; });
}
