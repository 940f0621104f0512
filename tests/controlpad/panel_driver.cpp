#include "tests/controlpad/panel_driver.h"

#include <cstdlib>

#include "platform/platform.h"
#include "platform/win32/text_win32.h"
#include "tests/support/temp_dir.h"

namespace {

const wchar_t kDesktopName[] = L"OrvexPanelTest";
const DWORD kWaitMs = 30000;

HDESK g_desktop = nullptr;
HANDLE g_desktopProcess = nullptr;  // Wine's explorer drawing the virtual desktop

struct WindowSearch {
    DWORD pid;
    const wchar_t* windowClass;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
    WindowSearch* s = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t text[256] = {};
    if (pid != s->pid || !IsWindowVisible(window)) return TRUE;
    GetClassNameW(window, text, 256);
    if (lstrcmpW(text, s->windowClass) != 0) return TRUE;
    GetWindowTextW(window, text, 256);
    if (s->title && lstrcmpW(text, s->title) != 0) return TRUE;
    s->found = window;
    return FALSE;
}

void SendInputs(INPUT* inputs, UINT count) {
    SendInput(count, inputs, sizeof(INPUT));
    Sleep(50);  // let the desktop's input queue pass them on before the next ones
}

INPUT Key(WORD vk, DWORD flags) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = flags;
    return in;
}

}  // namespace

bool EnterTestDesktop() {
    if (!g_desktop) {
        // Wine draws window frames itself only on a virtual desktop; on a bare X server without
        // a window manager the caption would stay empty.
        std::wstring cmd = std::wstring(L"explorer.exe /desktop=") + kDesktopName + L",800x600";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
        CloseHandle(pi.hThread);
        g_desktopProcess = pi.hProcess;
        WaitUntil([] {
            g_desktop = OpenDesktopW(kDesktopName, 0, FALSE, GENERIC_ALL);
            return g_desktop != nullptr;
        });
        if (!g_desktop) return false;
    }
    return SetThreadDesktop(g_desktop) != 0;
}

void LeaveTestDesktop() {
    if (g_desktop) CloseDesktop(g_desktop);
    if (g_desktopProcess) {
        TerminateProcess(g_desktopProcess, 0);
        CloseHandle(g_desktopProcess);
    }
    g_desktop = nullptr;
    g_desktopProcess = nullptr;
}

std::string MakePanelFolder(const std::string& scenario) {
    std::string dir = MakeScenarioDir(scenario);
    CopyFileTo(JoinPath(TestBinDir(), "Controlpad.exe"), JoinPath(dir, "Controlpad.exe"));
    return dir;
}

bool StartOnTestDesktop(const std::string& exe, const std::string& args, PanelProcess* p, bool suspended) {
    std::wstring cmd = L"\"" + platform::Widen(exe) + L"\"" + (args.empty() ? L"" : L" " + platform::Widen(args));
    std::wstring desktop = kDesktopName;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.lpDesktop = &desktop[0];
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, suspended ? CREATE_SUSPENDED : 0, nullptr, nullptr,
                        &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    p->process = pi.hProcess;
    p->pid = pi.dwProcessId;
    return true;
}

HWND WaitForProcessWindow(DWORD pid, const wchar_t* windowClass, const wchar_t* title) {
    WindowSearch s{pid, windowClass, title, nullptr};
    WaitUntil([&s] {
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&s));
        return s.found != nullptr;
    });
    return s.found;
}

HWND WaitForPanelWindow(PanelProcess* p) {
    p->window = WaitForProcessWindow(p->pid, L"ControlpadWindow", nullptr);
    return p->window;
}

DWORD WaitForExit(PanelProcess* p) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(p->process, kWaitMs) == WAIT_OBJECT_0) GetExitCodeProcess(p->process, &code);
    return code;
}

void ClosePanelProcess(PanelProcess* p) {
    if (!p->process) return;
    if (WaitForSingleObject(p->process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(p->process, 99);
        WaitForSingleObject(p->process, kWaitMs);
    }
    CloseHandle(p->process);
    p->process = nullptr;
    p->pid = 0;
    p->window = nullptr;
}

PanelProcess::~PanelProcess() { ClosePanelProcess(this); }

bool WaitUntil(const std::function<bool()>& check) {
    for (DWORD waited = 0; waited < kWaitMs; waited += 50) {
        if (check()) return true;
        Sleep(50);
    }
    return check();
}

void SyncWith(HWND window) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, kWaitMs, &result);
}

void ClickAt(POINT screen) {
    static DWORD lastTime = 0;
    static POINT lastPlace{-100, -100};
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    // Each event carries the place: Wine also moves the X server's pointer and hears back about
    // it later, which can put the cursor back where it was in between.
    INPUT in[3] = {};
    const DWORD buttons[3] = {0, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
    for (int i = 0; i < 3; ++i) {
        in[i].type = INPUT_MOUSE;
        in[i].mi.dx = (screen.x * 65536 + w - 1) / w;  // Wine rounds down on the way back
        in[i].mi.dy = (screen.y * 65536 + h - 1) / h;
        in[i].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttons[i];
    }
    SendInputs(&in[0], 1);
    // A second click on the same spot soon after the first would be a double click.
    if (abs(screen.x - lastPlace.x) <= GetSystemMetrics(SM_CXDOUBLECLK) &&
        abs(screen.y - lastPlace.y) <= GetSystemMetrics(SM_CYDOUBLECLK)) {
        const DWORD since = GetTickCount() - lastTime;
        if (since <= GetDoubleClickTime()) Sleep(GetDoubleClickTime() - since + 100);
    }
    SendInputs(&in[1], 2);
    lastTime = GetTickCount();
    lastPlace = screen;
}

void ClickControl(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    ClickAt(POINT{r.left + 7, (r.top + r.bottom) / 2});
}

void PressKey(WORD vk) {
    INPUT in[2] = {Key(vk, 0), Key(vk, KEYEVENTF_KEYUP)};
    SendInputs(in, 2);
}

void PressShifted(WORD vk) {
    INPUT in[4] = {Key(VK_SHIFT, 0), Key(vk, 0), Key(vk, KEYEVENTF_KEYUP), Key(VK_SHIFT, KEYEVENTF_KEYUP)};
    SendInputs(in, 4);
}

void TypeText(const std::wstring& text) {
    for (wchar_t c : text) {
        INPUT in[2] = {Key(0, KEYEVENTF_UNICODE), Key(0, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP)};
        in[0].ki.wScan = in[1].ki.wScan = c;
        SendInputs(in, 2);
    }
}

RECT ChildRect(HWND parent, HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

COLORREF Screenshot::At(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    return RGB(rgb[i], rgb[i + 1], rgb[i + 2]);
}

Screenshot CaptureWindow(HWND window) {
    Screenshot shot;
    RECT r;
    GetWindowRect(window, &r);
    shot.width = r.right - r.left;
    shot.height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = shot.width;
    bi.bmiHeader.biHeight = -shot.height;  // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, shot.width, shot.height, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        const uint8_t* bgrx = static_cast<const uint8_t*>(bits);
        shot.rgb.resize(static_cast<size_t>(shot.width) * static_cast<size_t>(shot.height) * 3);
        for (size_t i = 0; i < shot.rgb.size() / 3; ++i) {
            shot.rgb[i * 3] = bgrx[i * 4 + 2];
            shot.rgb[i * 3 + 1] = bgrx[i * 4 + 1];
            shot.rgb[i * 3 + 2] = bgrx[i * 4];
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return shot;
}
