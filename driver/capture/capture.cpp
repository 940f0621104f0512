// The door's side of the capture: records copied into the queue under the capture's own lock,
// and the one writer thread that takes the queue as a whole every few milliseconds (sooner
// when it fills) and hands it to the file side. The thread runs from a session's start to its
// end and never outlives the library (platform::StartLibraryThread).
#include "driver/capture/capture.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <utility>

#include "driver/capture/capture_file.h"
#include "driver/config/driver_config.h"
#include "platform/platform.h"

std::atomic<bool> g_captureOn{false};

namespace {

// How long queued records may wait for the writer while the queue is not a quarter full.
constexpr auto kWriterPeriod = std::chrono::milliseconds(10);
// How long the end of a session waits for a disk that does not take the file.
constexpr auto kMostEndWait = std::chrono::seconds(5);

// Under g_lock.
struct Queue {
    std::string pending;
    size_t capacity = kCaptureQueueBytes;
    uint64_t dropped = 0;
    bool running = false;  // a writer thread is in its loop
    bool ending = false;   // the session ended: write what is queued, close, return
    CaptureSettings settings;
};
Queue g_queue;
std::mutex g_lock;
std::condition_variable g_wake;
std::condition_variable g_ended;
thread_local CaptureSender t_sender = CaptureSender::Host;

// The writer's session, from the settings of the session that is running.
bool StartWriterSession() {
    CaptureSettings settings;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        settings = g_queue.settings;
    }
    return WriterSessionStart(settings);
}

// Ends the loop; false when a session started again while the file was being closed.
bool FinishLoop() {
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_queue.ending) return false;
    g_queue.running = false;
    g_queue.pending.clear();
    g_ended.notify_all();
    return true;
}

void RunWriter(void*) {
    std::string work;
    work.reserve(g_queue.capacity);
    bool writing = StartWriterSession();
    if (!writing) g_captureOn = false;
    for (;;) {
        uint64_t dropped = 0;
        bool ending = false;
        {
            std::unique_lock<std::mutex> lock(g_lock);
            g_wake.wait_for(lock, kWriterPeriod,
                            [] { return g_queue.ending || g_queue.pending.size() >= g_queue.capacity / 4; });
            work.swap(g_queue.pending);
            dropped = std::exchange(g_queue.dropped, 0);
            ending = g_queue.ending;
        }
        if (writing && (!work.empty() || dropped) && !WriterTake(work, dropped)) {
            writing = false;
            g_captureOn = false;
        }
        work.clear();
        if (!ending) continue;
        if (writing) WriterSessionEnd();
        if (FinishLoop()) return;
        writing = StartWriterSession();
        g_captureOn = writing;
    }
}

void StopWriter(void*) {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_queue.ending = true;
    }
    g_wake.notify_one();
}

void Push(const CaptureRecord& record, const void* bytes) {
    const size_t need = sizeof record + record.length;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (!g_queue.running || g_queue.ending) return;
        std::string& q = g_queue.pending;
        // A channel's description is never dropped: its traffic would have no interface.
        const bool traffic = record.kind == RecordKind::Sent || record.kind == RecordKind::Received;
        if (traffic && q.size() + need > g_queue.capacity) {
            ++g_queue.dropped;
            return;
        }
        const size_t before = q.size();
        q.append(reinterpret_cast<const char*>(&record), sizeof record);
        if (record.length) q.append(static_cast<const char*>(bytes), record.length);
        const size_t quarter = g_queue.capacity / 4;
        wake = before < quarter && q.size() >= quarter;
    }
    if (wake) g_wake.notify_one();
}

}  // namespace

void CaptureMarkThread(CaptureSender sender) { t_sender = sender; }
CaptureSender CaptureThreadSender() { return t_sender; }

CaptureSettings CaptureSettingsOf(const DriverConfig& config) {
    CaptureSettings s;
    s.enabled = config.Capture.Enabled;
    s.path = config.CaptureFilePath;
    s.maxBytes = uint64_t(config.Capture.MaxSizeKB) * 1024u;
    s.keep = config.Capture.Keep;
    return s;
}

void CaptureSessionStart(const CaptureSettings& settings) {
    if (!settings.enabled || settings.path.empty()) return;
    std::lock_guard<std::mutex> lock(g_lock);
    g_queue.settings = settings;
    g_queue.ending = false;
    g_queue.dropped = 0;
    if (!g_queue.running) {
        // The writer's buffer is sized by the same capacity when it starts.
        g_queue.capacity = settings.queueBytes;
        g_queue.pending.clear();
        g_queue.pending.reserve(g_queue.capacity);
        g_queue.running = platform::StartLibraryThread(&RunWriter, &StopWriter, nullptr);
    }
    g_captureOn = g_queue.running;
}

void CaptureSessionEnd() {
    g_captureOn = false;
    std::unique_lock<std::mutex> lock(g_lock);
    if (!g_queue.running) return;
    g_queue.ending = true;
    g_wake.notify_one();
    g_ended.wait_for(lock, kMostEndWait, [] { return !g_queue.running; });
}

void CaptureChannelConnected(const CaptureChannel& channel) {
    CaptureRecord r;
    r.kind = RecordKind::Channel;
    r.channelId = channel.channelId;
    r.protocolId = channel.protocolId;
    r.baudRate = channel.baudRate;
    r.flags = channel.flags;
    r.softwareIsoTp = channel.softwareIsoTp;
    r.doipTester = channel.doipTester;
    r.doipEcu = channel.doipEcu;
    r.length = static_cast<uint32_t>(channel.doipAddress.size());
    Push(r, channel.doipAddress.data());
}

void CaptureChannelDisconnected(uint32_t channelId) {
    CaptureRecord r;
    r.kind = RecordKind::ChannelGone;
    r.channelId = channelId;
    Push(r, nullptr);
}

void CaptureSent(uint32_t channelId, uint64_t timeUs, const uint8_t* data, size_t length, bool canIdInData,
                 CaptureSender sender) {
    CaptureRecord r;
    r.kind = RecordKind::Sent;
    r.sender = sender;
    r.channelId = channelId;
    r.timeUs = timeUs;
    r.canIdInData = canIdInData;
    r.length = static_cast<uint32_t>(length);
    Push(r, data);
}

void CaptureReceived(uint32_t channelId, uint64_t timeUs, const uint8_t* data, size_t length, bool canIdInData) {
    CaptureRecord r;
    r.kind = RecordKind::Received;
    r.channelId = channelId;
    r.timeUs = timeUs;
    r.canIdInData = canIdInData;
    r.length = static_cast<uint32_t>(length);
    Push(r, data);
}
