// Starting a helper program that the caller never watches.
#include "platform/platform.h"

#include <windows.h>

namespace platform {

namespace {
std::wstring WidenUtf8(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, &w[0], n);
    w.resize(static_cast<size_t>(n - 1));
    return w;
}
}  // namespace

bool StartDetachedProcess(const std::string& exePath, const std::string& commandLine) {
    std::wstring exe = WidenUtf8(exePath);
    std::wstring cmd = WidenUtf8(commandLine);  // CreateProcessW may write into it
    if (exe.empty()) return false;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), cmd.empty() ? nullptr : &cmd[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

}  // namespace platform
