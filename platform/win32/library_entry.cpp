// DLL entry point: the library's attach and detach, without thread notifications. A non-null
// reserved argument at detach means the process is ending.
#include <windows.h>

#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        LibraryAttach();
    } else if (reason == DLL_PROCESS_DETACH) {
        LibraryDetach(reserved != nullptr);
    }
    return TRUE;
}
