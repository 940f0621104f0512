// Named cross-process mutex on Win32: the kernel object itself.
#include "platform/platform.h"

#include <windows.h>

#include "platform/win32/text_win32.h"

namespace platform {

void* CreateNamedMutex(const std::string& name, bool* alreadyExisted) {
    if (alreadyExisted) *alreadyExisted = false;
    HANDLE h = CreateMutexW(nullptr, FALSE, Widen(name).c_str());
    if (!h) return nullptr;
    if (alreadyExisted) *alreadyExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    return h;
}

void CloseNamedMutex(void* handle) {
    if (handle) CloseHandle(static_cast<HANDLE>(handle));
}

}  // namespace platform
