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

int RunProgram(const std::string& exePath, const std::string& commandLine, const std::string& outputPath,
               uint32_t timeoutMs) {
    std::wstring exe = Widen(exePath);
    std::wstring cmd = Widen(commandLine);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(Widen(outputPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return -1;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi{};
    BOOL started = CreateProcessW(exe.c_str(), cmd.empty() ? nullptr : &cmd[0], nullptr, nullptr, TRUE,
                                  CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
    CloseHandle(out);
    if (!started) return -1;
    CloseHandle(pi.hThread);
    int code = -1;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        if (GetExitCodeProcess(pi.hProcess, &exitCode)) code = static_cast<int>(exitCode);
    } else {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    CloseHandle(pi.hProcess);
    return code;
}

}  // namespace platform
