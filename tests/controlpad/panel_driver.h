// Driving the built Controlpad.exe as a user does: it runs from a scenario folder on a Wine
// virtual desktop of the test's own, and gets mouse clicks and key presses through the system's
// input queue. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Puts the calling thread on the test desktop, creating it (800 x 600) on first use, so that
// the panels started below, their windows, the input and the screen all belong to it.
bool EnterTestDesktop();
void LeaveTestDesktop();

// A fresh scenario folder holding a copy of Controlpad.exe.
std::string MakePanelFolder(const std::string& scenario);

struct PanelProcess {
    HANDLE process = nullptr;
    DWORD pid = 0;
    HWND window = nullptr;  // once found
    PanelProcess() = default;
    PanelProcess(const PanelProcess&) = delete;
    PanelProcess& operator=(const PanelProcess&) = delete;
    ~PanelProcess();
};
// Starts a program on the test desktop; args are appended to its quoted path.
bool StartOnTestDesktop(const std::string& exe, const std::string& args, PanelProcess* p, bool suspended = false);
// The panel's main window (class "ControlpadWindow") of that process, waited for.
HWND WaitForPanelWindow(PanelProcess* p);
// A top-level window of the process with the given class and title, waited for.
HWND WaitForProcessWindow(DWORD pid, const wchar_t* windowClass, const wchar_t* title);
// Exit code once the process ended; STILL_ACTIVE when it did not end in time.
DWORD WaitForExit(PanelProcess* p);
// Ends the process if it still runs (a failed check must not leave a panel holding the
// single-instance lock, nor a process holding the test's output) and forgets it.
void ClosePanelProcess(PanelProcess* p);

// Repeats check until it holds or about 30 s have passed.
bool WaitUntil(const std::function<bool()>& check);
// Returns once the window's thread has handled everything sent to it before.
void SyncWith(HWND window);

// Mouse and keyboard through the input queue, as from the user's devices.
void ClickAt(POINT screen);
// Clicks a control a few pixels in from its left edge (a check box's box, an edit's text).
void ClickControl(HWND control);
void PressKey(WORD vk);
void PressShifted(WORD vk);
void TypeText(const std::wstring& text);

// Client-area place of a child window of parent.
RECT ChildRect(HWND parent, HWND child);
// The window as the screen shows it, frame included: width, height and RGB rows, top first.
struct Screenshot {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    COLORREF At(int x, int y) const;
};
Screenshot CaptureWindow(HWND window);
