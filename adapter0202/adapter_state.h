// The adapter's process-wide state: the bound 04.04 library, the device it opened for the host
// and the channels it connected, all under one lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_set>

#include "common/j2534.h"
#include "platform/platform.h"

struct SiblingTable {
    platform::LibraryHandle library = nullptr;
    PassThruOpenFn Open = nullptr;
    PassThruCloseFn Close = nullptr;
    PassThruConnectFn Connect = nullptr;
    PassThruDisconnectFn Disconnect = nullptr;
    PassThruReadMsgsFn ReadMsgs = nullptr;
    PassThruWriteMsgsFn WriteMsgs = nullptr;
    PassThruStartPeriodicMsgFn StartPeriodicMsg = nullptr;
    PassThruStopPeriodicMsgFn StopPeriodicMsg = nullptr;
    PassThruStartMsgFilterFn StartMsgFilter = nullptr;
    PassThruStopMsgFilterFn StopMsgFilter = nullptr;
    PassThruSetProgrammingVoltageFn SetProgrammingVoltage = nullptr;
    PassThruReadVersionFn ReadVersion = nullptr;
    PassThruGetLastErrorFn GetLastError = nullptr;
    PassThruIoctlFn Ioctl = nullptr;
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
