// Controlpad.exe as a user meets it: started from a folder with the driver's INI files, its
// window clicked and typed into, the INI files, the shared ignition value and the driver's
// ignition answer read back.
#include <gtest/gtest.h>

#include <cwchar>
#include <map>
#include <string>

#include "common/j2534_functions.h"
#include "platform/platform.h"
#include "platform/win32/text_win32.h"
#include "tests/controlpad/panel_driver.h"
#include "tests/controlpad/png_writer.h"
#include "tests/support/temp_dir.h"

namespace {

const char kXentryKeys[][40] = {"UseSendRecvIso15765", "StripCanIdInDataForIso15765", "TryIso15765ComParams",
                                "FallbackPayloadOnlyIfComParamsFail", "InstallIso15765ResponseFilters"};

class DesktopEnvironment : public ::testing::Environment {
    void SetUp() override { ASSERT_TRUE(EnterTestDesktop()) << "no virtual desktop (is DISPLAY set?)"; }
    void TearDown() override { LeaveTestDesktop(); }
};
const auto* const g_desktopEnvironment = ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);

std::string Text(HWND window) {
    wchar_t text[512] = {};
    LRESULT n = SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return platform::Narrow(text, static_cast<size_t>(n));
}

std::string Item(HWND combo, int index) {
    wchar_t text[128] = {};
    LRESULT n = SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return n > 0 ? platform::Narrow(text, static_cast<size_t>(n)) : std::string();
}

BOOL CALLBACK FindStaticText(HWND child, LPARAM param) {
    wchar_t cls[16] = {};
    GetClassNameW(child, cls, 16);
    if (lstrcmpiW(cls, L"Static") != 0 || Text(child).empty()) return TRUE;
    *reinterpret_cast<std::string*>(param) = Text(child);
    return FALSE;
}

// The text a message box shows.
std::string MessageText(HWND box) {
    std::string text;
    EnumChildWindows(box, FindStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

bool Checked(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// The value the panel published, or -1 when there is no such shared memory.
long SharedIgnition() {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, L"Global\\Orvex_IgnitionState");
    if (!mapping) return -1;
    long value = -1;
    if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(LONG))) {
        value = *static_cast<const volatile LONG*>(view);
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    return value;
}

// Reads a key ("Section/Key") as the panel left it; "-" when it is absent.
std::string IniValue(const std::string& file, const std::string& sectionKey) {
    // The profile functions keep a copy per process that they trust while the file's time stamp
    // stays; the panel writes several times within one tick of the file system's clock.
    platform::ProfileFlush(file);
    const size_t slash = sectionKey.find('/');
    return platform::ProfileGetString(sectionKey.substr(0, slash), sectionKey.substr(slash + 1), "-", file);
}

// "Section/Key" -> value expected in every file; "-" for a key that must be absent.
using Keys = std::map<std::string, std::string>;

void ExpectKeys(const std::vector<std::string>& files, const Keys& keys, const char* step) {
    SCOPED_TRACE(step);
    for (const std::string& file : files)
        for (const auto& kv : keys) EXPECT_EQ(IniValue(file, kv.first), kv.second) << kv.first << " in " << file;
}

// Input reaches the panel some time after it was sent: waits until the active INI shows the
// value that the step changes, then until the panel has finished the apply that wrote it.
bool Applied(HWND panel, const std::string& ini, const std::string& sectionKey, const std::string& value) {
    bool seen = WaitUntil([&] { return IniValue(ini, sectionKey) == value; });
    SyncWith(panel);
    return seen;
}

HWND FocusOf(HWND panel) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(panel, nullptr), &info);
    return info.hwndFocus;
}

// Selects the field's text with End and Shift+Home after a click, so typing replaces it.
void ReplaceText(HWND edit, const std::wstring& text) {
    ClickControl(edit);
    PressKey(VK_END);
    PressShifted(VK_HOME);
    TypeText(text);
}

// A check box's state changes right before the notification whose apply it starts; the panel
// answers the question only after that apply.
bool ClickBoxTo(HWND panel, HWND box, bool checked) {
    ClickControl(box);
    bool done = WaitUntil([&] { return Checked(box) == checked; });
    SyncWith(panel);
    return done;
}

// Opens the profile list with a click and clicks the item in the list that drops down.
bool ChooseProfile(PanelProcess* p, HWND combo, const char* name) {
    int index = -1;
    for (int i = 0; i < 6; ++i)
        if (Item(combo, i) == name) index = i;
    if (index < 0) return false;
    ClickControl(combo);
    if (!WaitUntil([&] { return SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0) != 0; })) return false;
    HWND list = WaitForProcessWindow(p->pid, L"ComboLBox", nullptr);
    if (!list) return false;
    const LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
    const LRESULT height = SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
    POINT at{10, static_cast<LONG>((index - top) * height + height / 2)};
    ClientToScreen(list, &at);
    ClickAt(at);
    bool done = WaitUntil([&] {
        return SendMessageW(combo, CB_GETCURSEL, 0, 0) == index && !SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0);
    });
    SyncWith(p->window);
    return done;
}

struct ExpectedControl {
    const wchar_t* windowClass;
    const char* text;
    int id;  // 0: none required
    int x, y, width, height;
};

const ExpectedControl kLayout[] = {
    {L"Button", "Bench", 0, 10, 10, 480, 62},      {L"Button", "Enabled", 1301, 22, 32, 80, 18},
    {L"Static", "TimeoutMs:", 0, 120, 32, 70, 18}, {L"Edit", nullptr, 1303, 195, 28, 60, 22},
    {L"Static", "Batt mV:", 0, 260, 32, 55, 18},   {L"Edit", nullptr, 1305, 315, 28, 70, 22},
    {L"Button", "GENERAL", 0, 10, 78, 480, 96},    {L"Button", "Ignition ON", 1401, 22, 104, 110, 18},
    {L"Static", "Profile:", 0, 125, 104, 50, 18},  {L"ComboBox", nullptr, 1501, 185, 100, 105, 0},
    {L"Static", "Mode:", 0, 320, 104, 45, 18},     {L"ComboBox", nullptr, 1001, 360, 100, 120, 0},
    {L"Button", "Capture traffic", 1402, 22, 136, 130, 18},
};

struct LayoutSearch {
    const ExpectedControl* expected;
    HWND parent;
    HWND found;
};

BOOL CALLBACK MatchControl(HWND child, LPARAM param) {
    LayoutSearch* s = reinterpret_cast<LayoutSearch*>(param);
    wchar_t cls[64] = {};
    GetClassNameW(child, cls, 64);
    if (lstrcmpiW(cls, s->expected->windowClass) != 0) return TRUE;
    if (s->expected->id && GetDlgCtrlID(child) != s->expected->id) return TRUE;
    if (s->expected->text && Text(child) != s->expected->text) return TRUE;
    s->found = child;
    return FALSE;
}

void ExpectLayout(HWND panel) {
    RECT client;
    GetClientRect(panel, &client);
    EXPECT_EQ(client.right, 520);
    EXPECT_EQ(client.bottom, 190);
    for (const ExpectedControl& e : kLayout) {
        LayoutSearch s{&e, panel, nullptr};
        EnumChildWindows(panel, MatchControl, reinterpret_cast<LPARAM>(&s));
        SCOPED_TRACE(e.text ? e.text : std::to_string(e.id));
        ASSERT_NE(s.found, nullptr);
        const RECT r = ChildRect(panel, s.found);
        EXPECT_EQ(r.left, e.x);
        EXPECT_EQ(r.top, e.y);
        EXPECT_EQ(r.right - r.left, e.width);
        if (e.height) {  // a closed list is as tall as its field
            EXPECT_EQ(r.bottom - r.top, e.height);
        }
    }
    HWND profiles = GetDlgItem(panel, 1501), modes = GetDlgItem(panel, 1001);
    const char* profileItems[] = {"DEFAULT", "XENTRY", "DAS", "ODIS", "PIWIS", "PCMFLASH"};
    EXPECT_EQ(SendMessageW(profiles, CB_GETCOUNT, 0, 0), 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Item(profiles, i), profileItems[i]);
    EXPECT_EQ(SendMessageW(modes, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(Item(modes, 0), "REALISTIC");
    EXPECT_EQ(Item(modes, 1), "BENCH");
    EXPECT_FALSE(IsWindowEnabled(modes));
}

// Checks the colours on the screen and leaves the picture for the README.
void ExpectColoursAndSaveScreenshot(HWND panel) {
    const Screenshot shot = CaptureWindow(panel);
    ASSERT_GT(shot.width, 520);
    RECT window;
    GetWindowRect(panel, &window);
    POINT origin{0, 0};
    ClientToScreen(panel, &origin);
    auto at = [&](int x, int y) { return shot.At(origin.x - window.left + x, origin.y - window.top + y); };
    EXPECT_EQ(at(5, 5), RGB(245, 245, 245)) << "window background";
    EXPECT_EQ(at(440, 50), RGB(245, 245, 245)) << "inside the Bench group";
    const RECT edit = ChildRect(panel, GetDlgItem(panel, 1305));
    EXPECT_EQ(at(edit.right - 6, (edit.top + edit.bottom) / 2), RGB(255, 255, 255)) << "edit field";
    bool textColour = false;
    const RECT label = ChildRect(panel, GetDlgItem(panel, 1401));
    for (int y = label.top; y < label.bottom; ++y)
        for (int x = label.left + 16; x < label.right; ++x) textColour = textColour || at(x, y) == RGB(20, 20, 20);
    EXPECT_TRUE(textColour) << "check box text";
    EXPECT_TRUE(WritePng(JoinPath(TestBinDir(), "controlpad.png"), shot.width, shot.height, shot.rgb));
}

std::string WriteIni(const std::string& dir, const std::string& name, const std::string& text) {
    const std::string path = JoinPath(dir, name);
    platform::WriteWholeFile(path, text);
    return path;
}

}  // namespace

TEST(ControlpadWindow, ShowsTheSettingsAndWritesEveryChange) {
    const std::string dir = MakePanelFolder("panel_main");
    const std::string orvex = WriteIni(dir, "Orvex_J2534.ini",
                                       "; hand-written\r\n[Profile]\r\nMode=  xentry\r\n[Bench]\r\nBenchEnabled=0\r\n"
                                       "NoEcuTimeoutMs=0\r\n[BatteryConfig]\r\nDefaultMilliVolts=13000\r\n"
                                       "[Ignition]\r\nForceIgnitionOn=1\r\n[Xentry]\r\nUseSendRecvIso15765=0\r\n"
                                       "[Backend]\r\nType=Orvex\r\n[DpduSettings]\r\nDllName=no_vci.dll\r\n");
    const std::string tvn = WriteIni(dir, "TVN_J2534.ini", "[Backend]\r\nType=TVN\r\n");
    platform::CreateOneDirectory(JoinPath(dir, "TRX4820_J2534.ini"));  // a folder is no candidate
    const std::vector<std::string> files = {orvex, tvn};
    HANDLE stop = CreateEventW(nullptr, TRUE, TRUE, L"OrvexPanelTestStop");  // signalled: the panel resets it
    ASSERT_NE(stop, nullptr);

    PanelProcess p;
    ASSERT_TRUE(StartOnTestDesktop(JoinPath(dir, "Controlpad.exe"), "--stopevent OrvexPanelTestStop", &p));
    HWND panel = WaitForPanelWindow(&p);
    ASSERT_NE(panel, nullptr);
    SyncWith(panel);
    wchar_t title[64] = {};
    GetWindowTextW(panel, title, 64);
    EXPECT_STREQ(title, L"MIVRA J2534 VCI Controls");
    EXPECT_TRUE(GetWindowLongW(panel, GWL_EXSTYLE) & WS_EX_TOPMOST);
    ExpectLayout(panel);

    HWND bench = GetDlgItem(panel, 1301), timeout = GetDlgItem(panel, 1303), battery = GetDlgItem(panel, 1305);
    HWND ignition = GetDlgItem(panel, 1401), profile = GetDlgItem(panel, 1501), mode = GetDlgItem(panel, 1001);
    // Loaded from the first candidate, and nothing written back while loading.
    EXPECT_FALSE(Checked(bench));
    EXPECT_EQ(Text(mode), "REALISTIC");
    EXPECT_EQ(Text(profile), "XENTRY");
    EXPECT_EQ(Text(timeout), "200");
    EXPECT_EQ(Text(battery), "13000");
    EXPECT_FALSE(IsWindowEnabled(timeout));
    EXPECT_FALSE(IsWindowEnabled(battery));
    EXPECT_TRUE(Checked(ignition));
    EXPECT_EQ(SharedIgnition(), 1);
    EXPECT_EQ(ReadFileText(orvex).find("__Controlpad"), std::string::npos);
    EXPECT_EQ(ReadFileText(orvex).find("PCMflash"), std::string::npos);
    EXPECT_EQ(ReadFileText(tvn).find("Profile"), std::string::npos);

    // Every key of a bench apply with the XENTRY profile, in both files.
    ASSERT_TRUE(ClickBoxTo(panel, bench, true));
    Keys keys = {{"Profile/Mode", "XENTRY"},
                 {"PCMflash/PCMflashEnabled", "0"},
                 {"Bench/BenchEnabled", "1"},
                 {"Bench/NoEcuMode", "1"},
                 {"BatteryConfig/AlwaysOverride", "1"},
                 {"Bench/NoEcuTimeoutMs", "200"},
                 {"BatteryConfig/DefaultMilliVolts", "13000"},
                 {"Ignition/ForceIgnitionOn", "1"},
                 {"Capture/Enabled", "0"},
                 {"Odis/UseSendRecvIso15765", "-"}};
    for (const char* key : kXentryKeys) keys[std::string("Xentry/") + key] = "1";
    ExpectKeys(files, keys, "bench checked");
    EXPECT_EQ(platform::ProfileGetString("Backend", "Type", "", tvn), "TVN");
    EXPECT_EQ(Text(mode), "BENCH");
    EXPECT_TRUE(IsWindowEnabled(timeout) && IsWindowEnabled(battery));
    ExpectColoursAndSaveScreenshot(panel);

    // The fields apply when the focus leaves them (by Tab, or by a click elsewhere); what is no
    // positive number writes the default, which the field then shows.
    struct FieldStep {
        HWND field;
        const wchar_t* typed;
        bool byTab;
        const char* key;
        const char* written;
    } steps[] = {
        {timeout, L"750", true, "Bench/NoEcuTimeoutMs", "750"},
        {timeout, L"0", true, "Bench/NoEcuTimeoutMs", "200"},
        {timeout, L"300", true, "Bench/NoEcuTimeoutMs", "300"},
        {timeout, L"abc", true, "Bench/NoEcuTimeoutMs", "200"},
        {battery, L"-5", false, "BatteryConfig/DefaultMilliVolts", "12100"},
    };
    for (const FieldStep& step : steps) {
        const std::string trace = std::string(step.key) + " typed " + platform::Narrow(step.typed, wcslen(step.typed));
        SCOPED_TRACE(trace);
        ReplaceText(step.field, step.typed);
        HWND next = step.field == timeout ? battery : timeout;
        if (step.byTab)
            PressKey(VK_TAB);
        else
            ClickControl(next);
        ASSERT_TRUE(Applied(panel, orvex, step.key, step.written));
        EXPECT_EQ(FocusOf(panel), next);
        EXPECT_EQ(Text(step.field), step.written);
        keys[step.key] = step.written;
        ExpectKeys(files, keys, trace.c_str());
    }

    // PCMFLASH switches its flag on, the next profile off again; the XENTRY keys stay.
    ASSERT_TRUE(ChooseProfile(&p, profile, "PCMFLASH"));
    ASSERT_TRUE(Applied(panel, orvex, "Profile/Mode", "PCMFLASH"));
    keys["Profile/Mode"] = "PCMFLASH";
    keys["PCMflash/PCMflashEnabled"] = "1";
    ExpectKeys(files, keys, "PCMFLASH");
    ASSERT_TRUE(ChooseProfile(&p, profile, "ODIS"));
    ASSERT_TRUE(Applied(panel, orvex, "Profile/Mode", "ODIS"));
    keys["Profile/Mode"] = "ODIS";
    keys["PCMflash/PCMflashEnabled"] = "0";
    keys["Odis/UseSendRecvIso15765"] = "1";
    ExpectKeys(files, keys, "ODIS");

    // The ignition box writes the INI and the shared value; the driver, loaded from the folder
    // after that, answers the ignition query from the INI and follows the next change.
    ASSERT_TRUE(ClickBoxTo(panel, ignition, false));
    keys["Ignition/ForceIgnitionOn"] = "0";
    ExpectKeys(files, keys, "ignition off");
    EXPECT_EQ(SharedIgnition(), 0);
    ASSERT_TRUE(CopyFileTo(JoinPath(TestBinDir(), "Orvex_J2534.dll"), JoinPath(dir, "Orvex_J2534.dll")));
    void* driver = platform::LoadLibraryFile(JoinPath(dir, "Orvex_J2534.dll"));
    ASSERT_NE(driver, nullptr);
    J2534Functions j2534;
    ASSERT_TRUE(BindJ2534Functions([&](const char* name) { return platform::GetLibrarySymbol(driver, name); }, &j2534));
    j2534::ULONG device = 0, ignitionSense = 7;
    ASSERT_EQ(j2534.Open(nullptr, &device), 0);
    EXPECT_EQ(j2534.Ioctl(0, j2534::IGNITION_SENSE, nullptr, &ignitionSense), 0);
    EXPECT_EQ(ignitionSense, 0u);
    ASSERT_TRUE(ClickBoxTo(panel, ignition, true));
    keys["Ignition/ForceIgnitionOn"] = "1";
    ExpectKeys(files, keys, "ignition on");
    EXPECT_EQ(SharedIgnition(), 1);
    EXPECT_EQ(j2534.Ioctl(0, j2534::IGNITION_SENSE, nullptr, &ignitionSense), 0);
    EXPECT_EQ(ignitionSense, 1u);
    EXPECT_EQ(j2534.Close(device), 0);
    platform::FreeLibraryFile(driver);

    // Unchecking bench writes only its flag; the bench values stay for next time.
    ASSERT_TRUE(ClickBoxTo(panel, bench, false));
    keys["Bench/BenchEnabled"] = "0";
    ExpectKeys(files, keys, "bench unchecked");
    EXPECT_EQ(Text(mode), "REALISTIC");
    EXPECT_FALSE(IsWindowEnabled(timeout) || IsWindowEnabled(battery));

    // A second start brings the minimised window back and ends at once.
    PostMessageW(panel, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(panel) != 0; }));
    PanelProcess second;
    ASSERT_TRUE(StartOnTestDesktop(JoinPath(dir, "Controlpad.exe"), "", &second));
    EXPECT_EQ(WaitForExit(&second), 0u);
    ClosePanelProcess(&second);
    EXPECT_TRUE(WaitUntil([&] { return !IsIconic(panel) && IsWindowVisible(panel); }));
    EXPECT_EQ(GetForegroundWindow(), panel);

    // The stop event closes it.
    SetEvent(stop);
    EXPECT_EQ(WaitForExit(&p), 0u);
    ClosePanelProcess(&p);
    CloseHandle(stop);
}

TEST(ControlpadWindow, IniPathOutsideTheFolderAndTheParentsEnd) {
    const std::string dir = MakePanelFolder("panel_inipath");
    const std::string orvex = WriteIni(dir, "Orvex_J2534.ini", "[Bench]\r\nBenchEnabled=0\r\n");
    const std::string trx = WriteIni(dir, "TRX4820_J2534.ini", "[Profile]\r\nMode=XENTRY\r\n");
    platform::CreateOneDirectory(JoinPath(dir, "elsewhere"));
    const std::string own =
        WriteIni(JoinPath(dir, "elsewhere"), "panel.ini",
                 "[Bench]\r\nBenchEnabled=1\r\nNoEcuTimeoutMs=300\r\n[Profile]\r\nMode=das\r\n"
                 "[BatteryConfig]\r\nDefaultMilliVolts=11800\r\n[Ignition]\r\nForceIgnitionOn=0\r\n");
    // A process that stays until the test ends it stands in for the program that started the panel.
    PanelProcess parent;
    ASSERT_TRUE(StartOnTestDesktop(JoinPath(TestBinDir(), "record_args.exe"), "", &parent, true));

    PanelProcess p;
    ASSERT_TRUE(StartOnTestDesktop(JoinPath(dir, "Controlpad.exe"),
                                   "--parentpid " + std::to_string(parent.pid) + " --inipath \"" + own + "\"", &p));
    HWND panel = WaitForPanelWindow(&p);
    ASSERT_NE(panel, nullptr);
    SyncWith(panel);
    HWND ignition = GetDlgItem(panel, 1401);
    EXPECT_TRUE(Checked(GetDlgItem(panel, 1301)));
    EXPECT_EQ(Text(GetDlgItem(panel, 1501)), "DAS");
    EXPECT_EQ(Text(GetDlgItem(panel, 1303)), "300");
    EXPECT_EQ(Text(GetDlgItem(panel, 1305)), "11800");
    EXPECT_FALSE(Checked(ignition));
    EXPECT_EQ(SharedIgnition(), 0);

    ASSERT_TRUE(ClickBoxTo(panel, ignition, true));
    Keys keys = {{"Profile/Mode", "DAS"},
                 {"PCMflash/PCMflashEnabled", "0"},
                 {"Bench/BenchEnabled", "1"},
                 {"Bench/NoEcuMode", "1"},
                 {"BatteryConfig/AlwaysOverride", "1"},
                 {"Bench/NoEcuTimeoutMs", "300"},
                 {"BatteryConfig/DefaultMilliVolts", "11800"},
                 {"Ignition/ForceIgnitionOn", "1"},
                 {"Xentry/UseSendRecvIso15765", "-"},
                 {"Odis/UseSendRecvIso15765", "-"}};
    ExpectKeys({own, orvex, trx}, keys, "ignition on");
    EXPECT_EQ(SharedIgnition(), 1);

    TerminateProcess(parent.process, 0);
    EXPECT_EQ(WaitForExit(&p), 0u);
    ClosePanelProcess(&p);
    ClosePanelProcess(&parent);
}

TEST(ControlpadWindow, WithoutAWritableIniShowsWhyAndEnds) {
    struct Case {
        const char* scenario;
        bool readOnlyIni;
        const char* text;
        DWORD exitCode;
    } cases[] = {
        {"panel_no_ini", false,
         "No supported J2534 ini found next to Controlpad.exe.\n\nExpected one of:\n  - Orvex_J2534.ini\n"
         "  - TRX4820_J2534.ini\n  - TVN_J2534.ini",
         2},
        {"panel_read_only", true,
         "Controlpad cannot write to any INI file.\n\nPlease place Controlpad and the .ini files in a writable "
         "folder\n(NOT Program Files) and ensure they are not read-only.",
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        const std::string dir = MakePanelFolder(c.scenario);
        std::vector<HANDLE> held;
        if (c.readOnlyIni) {
            // Wine run as root writes read-only files all the same; held open without sharing,
            // they are closed to the panel's writes for certain.
            for (const char* name : {"Orvex_J2534.ini", "TVN_J2534.ini"}) {
                const std::wstring ini = platform::Widen(WriteIni(dir, name, "[Bench]\r\nBenchEnabled=1\r\n"));
                SetFileAttributesW(ini.c_str(), FILE_ATTRIBUTE_READONLY);
                held.push_back(CreateFileW(ini.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            }
        }
        PanelProcess p;
        ASSERT_TRUE(StartOnTestDesktop(JoinPath(dir, "Controlpad.exe"), "", &p));
        HWND box = WaitForProcessWindow(p.pid, L"#32770", L"Controlpad");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageText(box), c.text);
        EXPECT_EQ(FindWindowW(L"ControlpadWindow", nullptr), nullptr);
        ClickControl(GetDlgItem(box, IDOK));
        EXPECT_EQ(WaitForExit(&p), c.exitCode);
        ClosePanelProcess(&p);
        for (HANDLE h : held) CloseHandle(h);
    }
}
