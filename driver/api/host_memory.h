// Memory the host hands in (counts, message records) is read and written under the crash
// guard: a bad pointer from a host ends its call with an error instead of taking it down.
#pragma once

#include <cstddef>

// False when the memory could not be accessed.
bool CopyFromHost(void* to, const void* hostFrom, size_t length);
bool CopyToHost(void* hostTo, const void* from, size_t length);
