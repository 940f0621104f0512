#include "driver/api/host_message.h"

#include <cstddef>
#include <cstring>

#include "driver/api/last_error.h"
#include "platform/platform.h"

namespace {
constexpr size_t kHeaderSize = offsetof(j2534::PASSTHRU_MSG, Data);

struct RecordRead {
    const j2534::PASSTHRU_MSG* record;
    j2534::PASSTHRU_MSG* header;
    uint8_t* data;
    HostRecordRead done;
};
void ReadRecord(void* context) {
    RecordRead* r = static_cast<RecordRead*>(context);
    std::memcpy(r->header, r->record, kHeaderSize);
    r->done = HostRecordRead::Header;
    const uint32_t size = r->header->DataSize;
    if (size == 0 || size > j2534::kMaxDataSize) return;
    std::memcpy(r->data, r->record->Data, size);
    r->done = HostRecordRead::Whole;
}

uint32_t ClampedWord(j2534::ULONG word) {
    return (static_cast<uint64_t>(word) >> 32) != 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(word);
}

struct WriteStartRead {
    const j2534::ULONG* count;
    j2534::ULONG word;
    RecordRead record;
};
void ReadWriteStart(void* context) {
    WriteStartRead* w = static_cast<WriteStartRead*>(context);
    std::memcpy(&w->word, w->count, sizeof w->word);
    if (w->word != 0) ReadRecord(&w->record);  // a count of 0 hands over no record to read
}
}  // namespace

HostWriteStart ReadHostWriteStart(const j2534::ULONG* count, const j2534::PASSTHRU_MSG* record,
                                  j2534::PASSTHRU_MSG* header, uint8_t* data) {
    WriteStartRead w{count, 0, {record, header, data, HostRecordRead::Nothing}};
    HostWriteStart start;
    if (platform::RunGuardedQuick(&ReadWriteStart, &w, nullptr)) {
        start.countRead = true;
        start.count = ClampedWord(w.word);
        start.first = w.record.done;
        return start;
    }
    start.countRead = ReadHostWord(count, &start.count);
    if (start.count != 0) start.first = ReadHostRecord(record, header, data);
    return start;
}

HostRecordRead ReadHostRecord(const j2534::PASSTHRU_MSG* record, j2534::PASSTHRU_MSG* header, uint8_t* data) {
    RecordRead r{record, header, data, HostRecordRead::Nothing};
    platform::RunGuardedQuick(&ReadRecord, &r, nullptr);
    return r.done;
}

int32_t CopyHostMessage(const j2534::PASSTHRU_MSG* hostMsg, j2534::PASSTHRU_MSG* copy) {
    std::memset(copy, 0, sizeof *copy);
    if (!platform::CopyGuarded(copy, hostMsg, kHeaderSize)) {
        SetLastErrorText("Invalid message: record not readable");
        return j2534::ERR_INVALID_MSG;
    }
    if (copy->DataSize > j2534::kMaxDataSize) {
        SetLastErrorText("Invalid message: DataSize exceeds buffer");
        return j2534::ERR_INVALID_MSG;
    }
    if (!platform::CopyGuarded(copy->Data, hostMsg->Data, copy->DataSize)) {
        SetLastErrorText("Invalid message: record not readable");
        return j2534::ERR_INVALID_MSG;
    }
    return j2534::STATUS_NOERROR;
}

bool ReadHostWord(const void* from, uint32_t* value) {
    j2534::ULONG word = 0;
    if (!platform::CopyGuarded(&word, from, sizeof word)) return false;
    *value = ClampedWord(word);
    return true;
}

bool WriteHostWord(void* to, uint32_t value) {
    const j2534::ULONG word = value;
    return platform::CopyGuarded(to, &word, sizeof word);
}
