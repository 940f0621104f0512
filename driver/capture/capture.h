// The traffic capture: every message and frame of a device session in a pcapng file that
// Wireshark opens. The J2534 layer tells it, in its own words, that a session started or ended,
// that a channel was connected, and that something went out or came in on a channel at a time
// of the driver's microsecond clock. Those calls copy into a bounded queue under a lock of the
// capture's own and return; one writer thread turns the queue into blocks and writes them. A
// capture that cannot be written is logged once and off until the next session; nothing here
// changes what a J2534 call returns.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

struct DriverConfig;

// Bytes of messages and frames waiting for the writer; what would not fit is dropped (and
// counted in the file and, once a session, in the log).
constexpr size_t kCaptureQueueBytes = 1u << 20;

struct CaptureSettings {
    bool enabled = false;
    std::string path;
    uint64_t maxBytes = 65536ull * 1024u;  // a file that would grow past this is rotated
    uint32_t keep = 5;                     // capture files kept, the one being written included
    size_t queueBytes = kCaptureQueueBytes;
};
CaptureSettings CaptureSettingsOf(const DriverConfig& config);

// A device session, PassThruOpen to PassThruClose. The end returns when what was queued is in
// the file (or after a few seconds on a disk that does not take it).
void CaptureSessionStart(const CaptureSettings& settings);
void CaptureSessionEnd();

// The one test on every message while the capture is off.
extern std::atomic<bool> g_captureOn;
inline bool CaptureOn() { return g_captureOn.load(std::memory_order_relaxed); }

// A connected channel: the file shows it as an interface of its own, "ch3 ISO15765 500000".
// CAN channels and ISO 15765 cut into frames by the driver are captured as CAN frames; the
// other channels as whole messages for Wireshark's UDS dissector (K-Line: as plain data).
struct CaptureChannel {
    uint32_t channelId = 0;
    uint32_t protocolId = 0;
    uint32_t baudRate = 0;
    uint32_t flags = 0;           // the connect flags (CAN_29BIT_ID)
    bool softwareIsoTp = false;   // the driver's own ISO-TP on a raw CAN link
    std::string doipAddress;      // "127.0.0.1:13400" on a channel of the driver's DoIP client
    uint16_t doipTester = 0;      // the client's logical addresses
    uint16_t doipEcu = 0;
};
void CaptureChannelConnected(const CaptureChannel& channel);
void CaptureChannelDisconnected(uint32_t channelId);

// Who a message that goes out comes from; the driver's own ones are marked in the file.
enum class CaptureSender : uint8_t { Host, AutoFlowControl, Periodic, DasWakeup };
// A thread of the driver's own (the periodic sender) marks what it sends; others send as the host.
void CaptureMarkThread(CaptureSender sender);
CaptureSender CaptureThreadSender();

// A message or frame handed to the channel's transport, or taken off it, at timeUs (the clock
// of PASSTHRU_MSG.Timestamp). With canIdInData the bytes begin with the 4-byte CAN id, as J2534
// records and raw frames of the VCI's links carry it.
void CaptureSent(uint32_t channelId, uint64_t timeUs, const uint8_t* data, size_t length, bool canIdInData,
                 CaptureSender sender);
void CaptureReceived(uint32_t channelId, uint64_t timeUs, const uint8_t* data, size_t length, bool canIdInData);
