// DLL entry point: the driver's attach and detach, without thread notifications.
#include <windows.h>

#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        LibraryAttach();
    } else if (reason == DLL_PROCESS_DETACH) {
        LibraryDetach();
    }
    return TRUE;
}
