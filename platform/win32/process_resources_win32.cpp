// The process's handles, threads and private committed memory.
#include "platform/platform.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

namespace platform {

namespace {
uint64_t CountThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    const DWORD self = GetCurrentProcessId();
    uint64_t n = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self) ++n;
    CloseHandle(snapshot);
    return n;
}
}  // namespace

ProcessResources CurrentProcessResources() {
    ProcessResources r;
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles)) r.handles = handles;
    r.threads = CountThreads();
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters))
        r.memoryBytes = counters.PrivateUsage;
    return r;
}

}  // namespace platform
