// Message records that a host hands to the filter and periodic calls.
#pragma once

#include <cstdint>

#include "common/j2534.h"

// Copies the header and DataSize bytes of data of a host's record (the rest zero), never reading
// beyond them: a host may hand in a record cut after its data. 0, or ERR_INVALID_MSG with the
// last error set when the record cannot be read or its DataSize exceeds the record.
int32_t CopyHostMessage(const j2534::PASSTHRU_MSG* hostMsg, j2534::PASSTHRU_MSG* copy);
