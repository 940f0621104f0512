// Named cross-process mutex on Win32: the kernel object itself.
#include "platform/platform.h"

#include <windows.h>

namespace platform {

void* CreateNamedMutex(const std::string& name, bool* alreadyExisted) {
    if (alreadyExisted) *alreadyExisted = false;
    int n = MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, nullptr, 0);
    if (n <= 0) return nullptr;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, &wide[0], n);
    HANDLE h = CreateMutexW(nullptr, FALSE, wide.c_str());
    if (!h) return nullptr;
    if (alreadyExisted) *alreadyExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    return h;
}

void CloseNamedMutex(void* handle) {
    if (handle) CloseHandle(static_cast<HANDLE>(handle));
}

}  // namespace platform
