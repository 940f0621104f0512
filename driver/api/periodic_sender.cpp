// The one periodic sender thread: under the device lock it copies the messages that are due,
// without it it writes them through PassThruWriteMsgs, and it waits for the next due time with
// the platform's precise wait (a plain sleep lasts a whole timer tick, 15.6 ms, on Windows).
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "driver/api/api_impl.h"
#include "driver/api/device.h"
#include "driver/api/periodic.h"
#include "platform/platform.h"

namespace {

// Longest wait between two looks at the lists: a message started meanwhile is seen this soon.
constexpr uint64_t kLookAgainUs = 5000;

// Under g_deviceLock, apart from stop.
struct Sender {
    bool running = false;   // a thread is in its loop
    bool sending = false;   // it is writing the messages of batch
    uint64_t batch = 0;
    std::atomic<bool> stop{false};
};
Sender g_sender;
std::condition_variable g_batchDone;

bool AnyPeriodicMsgLocked() {
    for (const ChannelContext& ch : g_device.channels)
        if (!ch.periodicMsgs.empty()) return true;
    return false;
}

void WriteDue(std::vector<DuePeriodicMsg>& due) {
    for (DuePeriodicMsg& d : due) {
        try {
            uint32_t one = 1;
            PassThruWriteMsgsImpl(d.channelId, &d.message, &one, 0);  // as the host's writes; result not needed
        } catch (...) {
        }
    }
}

void RunSender(void*) {
    std::vector<DuePeriodicMsg> due;
    for (;;) {
        uint64_t nextUs = 0;
        {
            std::lock_guard<std::mutex> lock(g_deviceLock);
            if (g_sender.sending) {
                g_sender.sending = false;
                g_batchDone.notify_all();
            }
            if (g_sender.stop || !g_device.isOpen || !AnyPeriodicMsgLocked()) {
                g_sender.running = false;
                return;
            }
            due.clear();
            try {
                nextUs = TakeDuePeriodicMsgsLocked(platform::MonotonicUs(), &due);
            } catch (...) {  // no memory for the copies: try again at the next look
                due.clear();
                nextUs = 0;
            }
            if (!due.empty()) {
                g_sender.sending = true;
                ++g_sender.batch;
            }
        }
        if (!due.empty()) {
            WriteDue(due);
            continue;
        }
        const uint64_t now = platform::MonotonicUs();
        const uint64_t wait = nextUs > now ? std::min(nextUs - now, kLookAgainUs) : kLookAgainUs;
        platform::SleepPreciseUs(static_cast<uint32_t>(wait));
    }
}

void StopSender(void*) { g_sender.stop = true; }

}  // namespace

uint64_t TakeDuePeriodicMsgsLocked(uint64_t nowUs, std::vector<DuePeriodicMsg>* due) {
    uint64_t next = UINT64_MAX;
    for (ChannelContext& ch : g_device.channels) {
        for (PeriodicRecord& r : ch.periodicMsgs) {
            if (r.intervalMs == 0) continue;
            const uint64_t intervalUs = uint64_t(r.intervalMs) * 1000u;
            if (r.nextDueUs <= nowUs) {
                due->push_back({ch.channelId, r.message});
                r.nextDueUs = nowUs + intervalUs;
            }
            next = std::min(next, r.nextDueUs);
        }
    }
    return next;
}

bool EnsurePeriodicSenderLocked() {
    if (g_sender.running) return true;
    g_sender.stop = false;
    g_sender.running = platform::StartLibraryThread(&RunSender, &StopSender, nullptr);
    return g_sender.running;
}

void WaitForPeriodicSendsLocked(std::unique_lock<std::mutex>& lock) {
    if (!g_sender.sending) return;
    const uint64_t batch = g_sender.batch;
    g_batchDone.wait(lock, [batch] { return !g_sender.sending || g_sender.batch != batch; });
}
