// The panel's window: its controls, filling them from the active INI when it opens, and
// writing the settings back to every INI file on each change the user makes.
#pragma once

#include <windows.h>

#include "controlpad/ignition_share.h"
#include "controlpad/panel_settings.h"
#include "controlpad/watcher.h"

// What the window works with. It lives as long as the program; the window fills in the rest.
struct PanelState {
    PanelIniFiles files;
    IgnitionShare ignition;
    HANDLE stopEvent = nullptr;      // --stopevent
    HANDLE setupStopEvent = nullptr;  // Global\Controlpad_Stop, which the setup program signals
    HANDLE parentProcess = nullptr;
    PanelWatcher watcher;
    HFONT font = nullptr;
    HBRUSH background = nullptr;
    // Set while the controls are filled, so their notifications write nothing back.
    bool loading = false;
    bool applying = false;
};

extern const wchar_t kPanelClass[];
// Also true when the class was registered already.
bool RegisterPanelClass(HINSTANCE instance);
// Creates the topmost window with a 520 x 190 client area, centred, and shows it; null on failure.
HWND CreatePanelWindow(HINSTANCE instance, PanelState* state);
