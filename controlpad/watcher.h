// Closes the panel's window when the process that started it ends or when the named stop
// event is signalled. The thread only waits and posts the close message.
#pragma once

#include <windows.h>

struct PanelWatcher {
    HWND window = nullptr;
    HANDLE waitOn[3] = {};  // the private quit event first, then the stop event and the parent
    DWORD count = 0;
    HANDLE thread = nullptr;
};

// Starts the thread when there is a stop event or a parent process to wait for.
void StartWatcher(PanelWatcher* watcher, HWND window, HANDLE stopEvent, HANDLE parentProcess);
// Ends the thread, so that the handles it waits on may be closed afterwards.
void StopWatcher(PanelWatcher* watcher);
