// The forced-ignition flag published to other processes: one 32-bit value, 1 = on, 0 = off,
// in the shared memory "Global\Orvex_IgnitionState" (or the session-local name when the
// global one may not be created).
#pragma once

#include <windows.h>

struct IgnitionShare {
    HANDLE mapping = nullptr;
    volatile LONG* value = nullptr;  // null when neither name could be mapped
};

IgnitionShare OpenIgnitionShare();
void StoreIgnition(const IgnitionShare& share, bool on);
void CloseIgnitionShare(IgnitionShare* share);
