// Starting a helper program that the caller never watches.
#include "platform/platform.h"

#include <windows.h>

#include "platform/win32/text_win32.h"

namespace platform {

bool StartDetachedProcess(const std::string& exePath, const std::string& commandLine) {
    std::wstring exe = Widen(exePath);
    std::wstring cmd = Widen(commandLine);  // CreateProcessW may write into it
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
