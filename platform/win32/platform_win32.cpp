// Win32 implementation of the platform layer (the product build).
#include "platform/platform.h"

#include <windows.h>

#include "platform/win32/text_win32.h"

#include <cstdlib>
#include <cwchar>

namespace platform {

std::wstring Widen(const std::string& s) {
    if (s.empty()) return {};
    UINT codePage = CP_UTF8;
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) {
        codePage = CP_ACP;
        n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    }
    std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

std::string Narrow(const wchar_t* w, size_t len) {
    if (len == 0) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), &s[0], n, nullptr, nullptr);
    return s;
}

namespace {

std::string ModuleFileName(HMODULE mod) {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(mod, &buf[0], static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return Narrow(buf.data(), n);
        if (buf.size() >= 32768) return {};
        buf.resize(buf.size() * 2);
    }
}

}  // namespace

std::string ThisModulePath() {
    HMODULE mod = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ThisModulePath), &mod))
        return {};
    return ModuleFileName(mod);
}

std::string HostExecutablePath() { return ModuleFileName(nullptr); }

std::string CurrentDirectory() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return {};
    std::wstring buf(n, L'\0');
    n = GetCurrentDirectoryW(n, &buf[0]);
    return Narrow(buf.data(), n);
}

FileInfo GetFileInfo(const std::string& path) {
    FileInfo fi;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) return fi;
    fi.exists = true;
    fi.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    fi.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return fi;
}

bool CreateOneDirectory(const std::string& path) {
    if (path.empty()) return false;
    if (CreateDirectoryW(Widen(path).c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && GetFileInfo(path).isDirectory;
}

bool CreateDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (GetFileInfo(path).isDirectory) return true;
    for (size_t i = 1; i < path.size(); ++i) {
        if ((path[i] == '\\' || path[i] == '/') && path[i - 1] != ':') {
            std::string part = path.substr(0, i);
            if (!GetFileInfo(part).isDirectory) CreateDirectoryW(Widen(part).c_str(), nullptr);
        }
    }
    return CreateOneDirectory(path);
}

bool RenameReplace(const std::string& from, const std::string& to) {
    return MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

AppendResult AppendToFile(const std::string& path, const void* data, size_t size, uint64_t refuseFromSize) {
    HANDLE h = CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return AppendResult::NotOpened;
    LARGE_INTEGER current;
    if (refuseFromSize != kNoSizeLimit && GetFileSizeEx(h, &current) &&
        static_cast<uint64_t>(current.QuadPart) >= refuseFromSize) {
        CloseHandle(h);
        return AppendResult::Full;
    }
    DWORD written = 0;
    BOOL ok = size == 0 || WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(h);
    return ok && written == size ? AppendResult::Written : AppendResult::NotWritten;
}

bool ReadWholeFile(const std::string& path, std::string* out) {
    HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    out->clear();
    char buf[8192];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) out->append(buf, n);
    CloseHandle(h);
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
    HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = data.empty() || WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == data.size();
}

bool RemoveFile(const std::string& path) { return DeleteFileW(Widen(path).c_str()) != 0; }

bool IsAbsolutePath(const std::string& p) {
    if (p.size() >= 2 && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':')
        return true;
    return !p.empty() && (p[0] == '\\' || p[0] == '/');
}

bool ListDirectory(const std::string& dir, std::vector<std::string>* names) {
    std::wstring pattern = Widen(dir);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    names->clear();
    do {
        const std::string name = Narrow(data.cFileName, wcslen(data.cFileName));
        if (name != "." && name != "..") names->push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
}

FileHandle OpenAppendFile(const std::string& path, uint64_t* size) {
    HANDLE h = CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kInvalidFile;
    LARGE_INTEGER current;
    if (!GetFileSizeEx(h, &current)) {
        CloseHandle(h);
        return kInvalidFile;
    }
    *size = static_cast<uint64_t>(current.QuadPart);
    return reinterpret_cast<FileHandle>(h);
}

bool WriteAppendFile(FileHandle file, const void* data, size_t size) {
    DWORD written = 0;
    return size == 0 || (WriteFile(reinterpret_cast<HANDLE>(file), data, static_cast<DWORD>(size), &written, nullptr) &&
                         written == size);
}

void CloseAppendFile(FileHandle file) {
    if (file != kInvalidFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool GetEnv(const char* name, std::string* value) {
    std::wstring wname = Widen(name);
    DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
    if (n == 0) return false;
    std::wstring buf(n, L'\0');
    n = GetEnvironmentVariableW(wname.c_str(), &buf[0], n);
    *value = Narrow(buf.data(), n);
    return true;
}

bool SetEnv(const char* name, const char* value) {
    std::wstring wname = Widen(name);
    if (!value) return SetEnvironmentVariableW(wname.c_str(), nullptr) != 0;
    return SetEnvironmentVariableW(wname.c_str(), Widen(value).c_str()) != 0;
}

LocalTime GetLocalTime() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    LocalTime lt;
    lt.year = st.wYear;
    lt.month = st.wMonth;
    lt.day = st.wDay;
    lt.hour = st.wHour;
    lt.minute = st.wMinute;
    lt.second = st.wSecond;
    return lt;
}

uint64_t WallClockUs() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const uint64_t since1601 = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;  // 100 ns
    return since1601 / 10u - 11644473600000000ull;
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }
uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

bool StdoutIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void DebugOutput(const char* text) {
    if (text) OutputDebugStringA(text);
}

namespace {
// Fiber-local storage rather than TLS: its callback frees a thread's text when the thread
// ends, even though the driver turns thread notifications off.
DWORD g_textIndex = FLS_OUT_OF_INDEXES;
INIT_ONCE g_textOnce = INIT_ONCE_STATIC_INIT;

void WINAPI DeleteText(void* p) { delete static_cast<std::string*>(p); }

BOOL CALLBACK CreateTextIndex(PINIT_ONCE, PVOID, PVOID*) {
    g_textIndex = FlsAlloc(&DeleteText);
    return TRUE;
}

std::string* TextSlot(bool create) {
    InitOnceExecuteOnce(&g_textOnce, &CreateTextIndex, nullptr, nullptr);
    if (g_textIndex == FLS_OUT_OF_INDEXES) return nullptr;
    auto* s = static_cast<std::string*>(FlsGetValue(g_textIndex));
    if (!s && create) {
        s = new std::string;
        FlsSetValue(g_textIndex, s);
    }
    return s;
}
}  // namespace

void SetThreadText(const std::string& text) {
    if (std::string* s = TextSlot(true)) *s = text;
}

std::string GetThreadText() {
    std::string* s = TextSlot(false);
    return s ? *s : std::string();
}

void ThreadTextShutdown() {
    // FlsFree runs the callback for every thread's value, so nothing outlives the library.
    if (g_textIndex != FLS_OUT_OF_INDEXES) {
        FlsFree(g_textIndex);
        g_textIndex = FLS_OUT_OF_INDEXES;
    }
}

LibraryHandle LoadLibraryFile(const std::string& path) {
    return reinterpret_cast<LibraryHandle>(LoadLibraryW(Widen(path).c_str()));
}

void* GetLibrarySymbol(LibraryHandle lib, const char* name) {
    if (!lib) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}

void FreeLibraryFile(LibraryHandle lib) {
    if (lib) FreeLibrary(static_cast<HMODULE>(lib));
}

const char* SharedLibrarySuffix() { return ".dll"; }

LibraryHandle LoadedLibrary(const std::string& path) {
    HMODULE mod = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, Widen(path).c_str(), &mod)) return nullptr;
    return reinterpret_cast<LibraryHandle>(mod);
}

std::string LibraryPath(LibraryHandle lib) { return lib ? ModuleFileName(static_cast<HMODULE>(lib)) : std::string(); }

void PinThisLibrary() {
    HMODULE mod = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinThisLibrary), &mod);
}

}  // namespace platform
