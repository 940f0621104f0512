// Inside the capture: the records the door queues, and the writer's side that turns them into
// pcapng blocks in files (rotation included). Only the writer thread calls the Writer functions.
#pragma once

#include <cstdint>
#include <string>

#include "driver/capture/capture.h"

enum class RecordKind : uint8_t { Channel, ChannelGone, Sent, Received };

// One queued record, followed by `length` bytes: the data, or a channel's DoIP address.
struct CaptureRecord {
    RecordKind kind = RecordKind::Sent;
    CaptureSender sender = CaptureSender::Host;
    bool canIdInData = false;
    bool softwareIsoTp = false;
    uint16_t doipTester = 0;
    uint16_t doipEcu = 0;
    uint32_t channelId = 0;
    uint32_t protocolId = 0;
    uint32_t baudRate = 0;
    uint32_t flags = 0;
    uint32_t length = 0;
    uint64_t timeUs = 0;
};

// The file for a session: the one this process was writing when it is still as left, else a
// new one (an earlier file of that name is archived first). False when it cannot be opened.
bool WriterSessionStart(const CaptureSettings& settings);
// Queued records into the file; dropped tells how many did not fit in the queue since the last
// call. False when the file cannot be written: the capture is off for the session.
bool WriterTake(const std::string& records, uint64_t dropped);
void WriterSessionEnd();
