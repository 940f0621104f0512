// The adapter's process-wide state: the bound 04.04 library, the device it opened for the host
// and the channels it connected, all under one lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_set>

#include "common/j2534_functions.h"
#include "platform/platform.h"

struct SiblingTable : J2534Functions {
    platform::LibraryHandle library = nullptr;
};

struct AdapterState {
    std::mutex lock;
    SiblingTable sibling;
    uint32_t deviceId = 0;  // 0: no device opened through the adapter
    std::unordered_set<uint32_t> channels;
    char errorText[256] = "Legacy wrapper not initialized";
};

extern AdapterState g_adapter;

// Caller holds g_adapter.lock.
void SetAdapterError(const char* text);
// Loads and binds the 04.04 library unless that is done; false (with the adapter's error text
// set) when it cannot be. Caller holds g_adapter.lock.
bool EnsureSiblingLoaded();
