// Message records that a host hands to the filter and periodic calls.
#pragma once

#include <cstdint>

#include "common/j2534.h"

// The header of a host's record into *header and, when its DataSize is 1..kMaxDataSize, that
// many data bytes into data, under one guard (a message costs one guarded call, not two). What
// could be read: nothing, the header alone (DataSize 0, too large, or unreadable data), or both.
enum class HostRecordRead { Nothing, Header, Whole };
HostRecordRead ReadHostRecord(const j2534::PASSTHRU_MSG* record, j2534::PASSTHRU_MSG* header, uint8_t* data);

// A write's count word and, when the count is not 0, its first record: one guard for both when
// both can be read, which is what a host almost always hands in; otherwise each as ReadHostWord
// and ReadHostRecord read it, so that the caller can tell which one failed.
struct HostWriteStart {
    bool countRead = false;
    uint32_t count = 0;
    HostRecordRead first = HostRecordRead::Nothing;
};
HostWriteStart ReadHostWriteStart(const j2534::ULONG* count, const j2534::PASSTHRU_MSG* record,
                                  j2534::PASSTHRU_MSG* header, uint8_t* data);

// Copies the header and DataSize bytes of data of a host's record (the rest zero), never reading
// beyond them: a host may hand in a record cut after its data. 0, or ERR_INVALID_MSG with the
// last error set when the record cannot be read or its DataSize exceeds the record.
int32_t CopyHostMessage(const j2534::PASSTHRU_MSG* hostMsg, j2534::PASSTHRU_MSG* copy);

// One J2534 word (unsigned long, 64 bits on LP64 hosts) at a host's address, under the guard. A
// value beyond 32 bits reads as 0xFFFFFFFF.
bool ReadHostWord(const void* from, uint32_t* value);
bool WriteHostWord(void* to, uint32_t value);
