// Closes the panel's window when the process that started it ends or when a stop event is
// signalled. The thread only waits and posts the close message.
#pragma once

#include <windows.h>

#include <initializer_list>

struct PanelWatcher {
    HWND window = nullptr;
    HANDLE waitOn[4] = {};  // the private quit event first, then the stop events and the parent
    DWORD count = 0;
    HANDLE thread = nullptr;
};

// Starts the thread when any of closeOn (events or a process; null ones are left out) is there
// to wait for.
void StartWatcher(PanelWatcher* watcher, HWND window, std::initializer_list<HANDLE> closeOn);
// Ends the thread, so that the handles it waits on may be closed afterwards.
void StopWatcher(PanelWatcher* watcher);
