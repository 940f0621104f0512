#include "controlpad/panel_window.h"

#include <commctrl.h>

#include <string>

#include "controlpad/resource.h"
#include "platform/win32/text_win32.h"

const wchar_t kPanelClass[] = L"ControlpadWindow";

namespace {

enum ControlId {
    kModeList = 1001,
    kBenchBox = 1301,
    kTimeoutEdit = 1303,
    kBatteryEdit = 1305,
    kIgnitionBox = 1401,
    kCaptureBox = 1402,
    kProfileList = 1501,
};

const COLORREF kTextColour = RGB(20, 20, 20);
const COLORREF kBackgroundColour = RGB(245, 245, 245);
const DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
const size_t kMaxProfileText = 2048;

struct ControlLayout {
    const wchar_t* windowClass;
    const wchar_t* text;
    int id;  // 0: never addressed
    DWORD style;
    DWORD exStyle;
    int x, y, width, height;
};

const ControlLayout kControls[] = {
    {L"BUTTON", L"Bench", 0, BS_GROUPBOX, 0, 10, 10, 480, 62},
    {L"BUTTON", L"Enabled", kBenchBox, BS_AUTOCHECKBOX | WS_TABSTOP, 0, 22, 32, 80, 18},
    {L"STATIC", L"TimeoutMs:", 0, SS_LEFT, 0, 120, 32, 70, 18},
    {L"EDIT", L"200", kTimeoutEdit, ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, 195, 28, 60, 22},
    {L"STATIC", L"Batt mV:", 0, SS_LEFT, 0, 260, 32, 55, 18},
    {L"EDIT", L"12100", kBatteryEdit, ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, 315, 28, 70, 22},
    {L"BUTTON", L"GENERAL", 0, BS_GROUPBOX, 0, 10, 78, 480, 96},
    {L"BUTTON", L"Ignition ON", kIgnitionBox, BS_AUTOCHECKBOX | WS_TABSTOP, 0, 22, 104, 110, 18},
    {L"STATIC", L"Profile:", 0, SS_LEFT, 0, 125, 104, 50, 18},
    {L"COMBOBOX", L"", kProfileList, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0, 185, 100, 105, 200},
    {L"STATIC", L"Mode:", 0, SS_LEFT, 0, 320, 104, 45, 18},
    {L"COMBOBOX", L"", kModeList, CBS_DROPDOWNLIST | WS_VSCROLL | WS_DISABLED, 0, 360, 100, 120, 200},
    {L"BUTTON", L"Capture traffic", kCaptureBox, BS_AUTOCHECKBOX | WS_TABSTOP, 0, 22, 136, 130, 18},
};

const wchar_t* const kProfiles[] = {L"DEFAULT", L"XENTRY", L"DAS", L"ODIS", L"PIWIS", L"PCMFLASH"};
const wchar_t* const kModes[] = {L"REALISTIC", L"BENCH"};

std::string ControlText(HWND window, int id) {
    wchar_t text[kMaxProfileText + 1] = {};
    int n = GetDlgItemTextW(window, id, text, static_cast<int>(kMaxProfileText + 1));
    return platform::Narrow(text, n > 0 ? static_cast<size_t>(n) : 0);
}

bool IsChecked(HWND window, int id) { return IsDlgButtonChecked(window, id) == BST_CHECKED; }

// Selects the item named text (without regard to case); false when there is none.
bool SelectItem(HWND window, int id, const std::wstring& text) {
    LRESULT index = SendDlgItemMessageW(window, id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                        reinterpret_cast<LPARAM>(text.c_str()));
    if (index == CB_ERR) return false;
    SendDlgItemMessageW(window, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    return true;
}

void ShowMode(HWND window, PanelState* st, bool bench) {
    const bool wasLoading = st->loading;
    st->loading = true;
    SelectItem(window, kModeList, bench ? L"BENCH" : L"REALISTIC");
    st->loading = wasLoading;
}

void EnableBenchFields(HWND window, bool bench) {
    EnableWindow(GetDlgItem(window, kTimeoutEdit), bench);
    EnableWindow(GetDlgItem(window, kBatteryEdit), bench);
}

// Shows the number written when the field held something else (text, 0 or less).
void ShowNumber(HWND window, int id, int value) {
    if (ControlText(window, id) != std::to_string(value)) SetDlgItemInt(window, id, static_cast<UINT>(value), TRUE);
}

void LoadSettings(HWND window, PanelState* st) {
    st->loading = true;
    const PanelSettings s = ReadPanelSettings(st->files.active);
    CheckDlgButton(window, kBenchBox, s.bench ? BST_CHECKED : BST_UNCHECKED);
    ShowMode(window, st, s.bench);
    if (!SelectItem(window, kProfileList, platform::Widen(s.profile)) && !SelectItem(window, kProfileList, L"DEFAULT"))
        SendDlgItemMessageW(window, kProfileList, CB_SETCURSEL, 0, 0);
    SetDlgItemInt(window, kTimeoutEdit, static_cast<UINT>(s.noEcuTimeoutMs), TRUE);
    SetDlgItemInt(window, kBatteryEdit, static_cast<UINT>(s.batteryMilliVolts), TRUE);
    EnableBenchFields(window, s.bench);
    CheckDlgButton(window, kIgnitionBox, s.ignitionOn ? BST_CHECKED : BST_UNCHECKED);
    StoreIgnition(st->ignition, s.ignitionOn);
    CheckDlgButton(window, kCaptureBox, s.capture ? BST_CHECKED : BST_UNCHECKED);
    st->loading = false;
}

void ApplySettings(HWND window, PanelState* st) {
    // Disabling a focused field below moves the focus and would apply a second time.
    if (st->loading || st->applying) return;
    st->applying = true;
    PanelSettings s;
    s.bench = IsChecked(window, kBenchBox);
    s.profile = NormalizeProfile(ControlText(window, kProfileList));
    ShowMode(window, st, s.bench);
    s.noEcuTimeoutMs = FieldNumber(ControlText(window, kTimeoutEdit), kDefaultNoEcuTimeoutMs);
    s.batteryMilliVolts = FieldNumber(ControlText(window, kBatteryEdit), kDefaultBatteryMilliVolts);
    s.ignitionOn = IsChecked(window, kIgnitionBox);
    s.capture = IsChecked(window, kCaptureBox);
    WritePanelSettings(st->files, s);
    if (s.bench) {
        ShowNumber(window, kTimeoutEdit, s.noEcuTimeoutMs);
        ShowNumber(window, kBatteryEdit, s.batteryMilliVolts);
    }
    EnableBenchFields(window, s.bench);
    StoreIgnition(st->ignition, s.ignitionOn);
    st->applying = false;
}

void CreateControls(HWND window, PanelState* st) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    for (const ControlLayout& c : kControls) {
        HWND control =
            CreateWindowExW(c.exStyle, c.windowClass, c.text, WS_CHILD | WS_VISIBLE | c.style, c.x, c.y, c.width,
                            c.height, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
        if (control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(st->font), FALSE);
    }
    for (const wchar_t* item : kProfiles)
        SendDlgItemMessageW(window, kProfileList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    for (const wchar_t* item : kModes)
        SendDlgItemMessageW(window, kModeList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
}

void OnCreate(HWND window, PanelState* st) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    int dpi = 96;
    if (HDC dc = GetDC(nullptr)) {
        dpi = GetDeviceCaps(dc, LOGPIXELSY);
        ReleaseDC(nullptr, dc);
    }
    st->font =
        CreateFontW(-MulDiv(10, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
    st->background = CreateSolidBrush(kBackgroundColour);
    CreateControls(window, st);
    LoadSettings(window, st);

    RECT r;
    GetWindowRect(window, &r);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
    SetWindowPos(window, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    StartWatcher(&st->watcher, window, {st->stopEvent, st->setupStopEvent, st->parentProcess});
}

void OnCommand(HWND window, PanelState* st, int id, int code) {
    const bool trigger = ((id == kBenchBox || id == kIgnitionBox || id == kCaptureBox) && code == BN_CLICKED) ||
                         (id == kProfileList && code == CBN_SELCHANGE) ||
                         ((id == kTimeoutEdit || id == kBatteryEdit) && code == EN_KILLFOCUS);
    if (trigger) ApplySettings(window, st);
}

LRESULT ColourControl(HDC dc, HWND control, PanelState* st) {
    SetTextColor(dc, kTextColour);
    const int id = GetDlgCtrlID(control);
    if (id == kTimeoutEdit || id == kBatteryEdit) {  // disabled edits ask like labels do
        SetBkColor(dc, RGB(255, 255, 255));
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    }
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(st->background);
}

LRESULT CALLBACK PanelProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
    PanelState* st = reinterpret_cast<PanelState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (msg == WM_CREATE) {
        st = static_cast<PanelState*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(st));
        OnCreate(window, st);
        return 0;
    }
    if (!st) return DefWindowProcW(window, msg, wp, lp);
    switch (msg) {
        case WM_COMMAND:
            OnCommand(window, st, LOWORD(wp), HIWORD(wp));
            return 0;
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return ColourControl(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp), st);
        case WM_ERASEBKGND: {
            RECT r;
            GetClientRect(window, &r);
            FillRect(reinterpret_cast<HDC>(wp), &r, st->background);
            return 1;
        }
        case WM_DESTROY:
            DeleteObject(st->font);
            DeleteObject(st->background);
            st->font = nullptr;
            st->background = nullptr;
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, msg, wp, lp);
    }
}

}  // namespace

bool RegisterPanelClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = PanelProc;
    wc.hInstance = instance;
    wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_CONTROLPAD), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_CONTROLPAD), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kPanelClass;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CreatePanelWindow(HINSTANCE instance, PanelState* state) {
    RECT r{0, 0, 520, 190};
    AdjustWindowRectEx(&r, kWindowStyle, FALSE, WS_EX_TOPMOST);
    HWND window = CreateWindowExW(WS_EX_TOPMOST, kPanelClass, L"MIVRA J2534 VCI Controls", kWindowStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, state);
    if (!window) return nullptr;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return window;
}
