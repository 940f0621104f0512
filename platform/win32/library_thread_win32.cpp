// Background threads that keep their library loaded until their very last step.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {
struct ThreadStart {
    void (*fn)(void*);
    void* context;
    HMODULE library;
};

DWORD WINAPI RunLibraryThread(void* p) {
    const ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    start.fn(start.context);
    // Unloads the library when this was its last reference, and ends the thread without
    // returning into it.
    FreeLibraryAndExitThread(start.library, 0);
    return 0;
}
}  // namespace

bool StartLibraryThread(void (*fn)(void*), void (*)(void*), void* context) {
    HMODULE library = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&RunLibraryThread),
                            &library))
        return false;
    auto* start = new ThreadStart{fn, context, library};
    HANDLE thread = CreateThread(nullptr, 0, &RunLibraryThread, start, 0, nullptr);
    if (!thread) {
        delete start;
        FreeLibrary(library);
        return false;
    }
    CloseHandle(thread);
    return true;
}

}  // namespace platform
