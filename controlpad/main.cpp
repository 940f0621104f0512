// Controlpad: a small window beside the driver with which a user switches bench mode, forced
// ignition and the host profile in the driver's INI files.
//
// Exit codes: 0 after a normal close or when another instance was already running, 1 when
// the window class cannot be registered, 2 when no INI was found or the window cannot be
// created, 3 when no INI can be written.
#include <windows.h>

#include <shellapi.h>  // after windows.h, which it needs

#include <cwchar>
#include <initializer_list>
#include <string>
#include <vector>

#include "controlpad/panel_window.h"
#include "platform/platform.h"
#include "platform/win32/text_win32.h"

namespace {

const wchar_t kTitle[] = L"Controlpad";
const wchar_t kNoIniText[] =
    L"No supported J2534 ini found next to Controlpad.exe.\n\nExpected one of:\n  - Orvex_J2534.ini\n"
    L"  - TRX4820_J2534.ini\n  - TVN_J2534.ini";
const wchar_t kNotWritableText[] =
    L"Controlpad cannot write to any INI file.\n\nPlease place Controlpad and the .ini files in a writable folder\n"
    L"(NOT Program Files) and ensure they are not read-only.";

void BringForward(HWND window) {
    if (!window) return;
    ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window);
}

std::vector<std::string> CommandLineArguments() {
    std::vector<std::string> args;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return args;
    for (int i = 1; i < argc; ++i) args.push_back(platform::Narrow(argv[i], std::wcslen(argv[i])));
    LocalFree(argv);
    return args;
}

// Every panel closes on this event as well, wherever it was started from: the setup program
// signals it before it replaces or removes the panel's files. Where the global name is not
// allowed, the session's own.
HANDLE CreateSetupStopEvent() {
    for (const wchar_t* name : {L"Global\\Controlpad_Stop", L"Controlpad_Stop"}) {
        HANDLE h = CreateEventW(nullptr, TRUE, FALSE, name);
        if (!h) continue;
        ResetEvent(h);  // a signal that was meant for an earlier panel
        return h;
    }
    return nullptr;
}

int RunWindow(HINSTANCE instance, PanelState* st) {
    if (!RegisterPanelClass(instance)) return 1;
    HWND window = CreatePanelWindow(instance, st);
    if (!window) return 2;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &msg)) continue;  // Tab between the fields
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

int RunPanel(HINSTANCE instance, const PanelOptions& options) {
    PanelState st;
    st.files = ChoosePanelInis(platform::ThisModulePath(), options.iniPath);
    if (st.files.active.empty()) {
        MessageBoxW(nullptr, kNoIniText, kTitle, MB_OK | MB_ICONERROR);
        return 2;
    }
    if (!ProbeWritable(st.files)) {
        MessageBoxW(nullptr, kNotWritableText, kTitle, MB_OK | MB_ICONERROR);
        return 3;
    }
    st.ignition = OpenIgnitionShare();
    if (!options.stopEvent.empty()) {
        st.stopEvent = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, platform::Widen(options.stopEvent).c_str());
        if (st.stopEvent) ResetEvent(st.stopEvent);
    }
    st.setupStopEvent = CreateSetupStopEvent();
    if (options.hasParentPid) st.parentProcess = OpenProcess(SYNCHRONIZE, FALSE, options.parentPid);

    const int rc = RunWindow(instance, &st);

    StopWatcher(&st.watcher);
    CloseIgnitionShare(&st.ignition);
    if (st.stopEvent) CloseHandle(st.stopEvent);
    if (st.setupStopEvent) CloseHandle(st.setupStopEvent);
    if (st.parentProcess) CloseHandle(st.parentProcess);
    return rc;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    bool running = false;
    void* singleton = platform::CreateNamedMutex("Global\\Controlpad_Singleton", &running);
    int rc = 0;
    if (running)
        BringForward(FindWindowW(kPanelClass, nullptr));
    else
        rc = RunPanel(instance, ParsePanelOptions(CommandLineArguments()));
    platform::CloseNamedMutex(singleton);
    return rc;
}
