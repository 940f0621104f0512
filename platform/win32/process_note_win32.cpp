// Notes that outlive a library on Windows: named file mappings in the session's local namespace,
// backed by the paging file. A mapping lives while a handle to it is open; a library that goes
// without releasing its view leaves its handle open, and so its note.
#include "platform/platform.h"

#include <windows.h>

#include <string>

#include "platform/win32/text_win32.h"

namespace platform {

namespace {

// The process id and its creation time: a handle that outlived its process (inherited or
// duplicated into another) never makes a note visible to a process that got the same id.
const std::string& ThisProcessTag() {
    static const std::string tag = [] {
        FILETIME created{}, exited{}, kernel{}, user{};
        GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
        const uint64_t start = (uint64_t(created.dwHighDateTime) << 32) | created.dwLowDateTime;
        return std::to_string(GetCurrentProcessId()) + "." + std::to_string(start);
    }();
    return tag;
}

std::wstring NoteName(const std::string& name, uint32_t slot) {
    return Widen("Local\\" + name + "." + ThisProcessTag() + "." + std::to_string(slot));
}

bool MapNote(HANDLE mapping, size_t size, ProcessNote* note) {
    void* memory = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (!memory) {
        CloseHandle(mapping);
        return false;
    }
    *note = ProcessNote{memory, size, reinterpret_cast<uintptr_t>(mapping)};
    return true;
}

}  // namespace

bool CreateProcessNote(const std::string& name, uint32_t slotCount, size_t size, ProcessNote* note, uint32_t* slot) {
    for (uint32_t i = 0; i < slotCount; ++i) {
        HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            static_cast<DWORD>(size), NoteName(name, i).c_str());
        if (!mapping) return false;
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(mapping);
            continue;
        }
        if (!MapNote(mapping, size, note)) return false;
        *slot = i;
        return true;
    }
    return false;
}

bool OpenProcessNote(const std::string& name, uint32_t slot, size_t size, ProcessNote* note) {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, NoteName(name, slot).c_str());
    // A view larger than the mapping is refused.
    return mapping && MapNote(mapping, size, note);
}

void ReleaseProcessNote(const ProcessNote& view) {
    if (view.memory) UnmapViewOfFile(view.memory);
    if (view.handle) CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(view.handle)));
}

void RemoveProcessNote(const std::string&, uint32_t) {}

}  // namespace platform
