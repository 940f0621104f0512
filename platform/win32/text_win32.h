// UTF-8 <-> UTF-16 at the Win32 boundary, shared by the win32 implementation files.
#pragma once

#include <string>

namespace platform {
// Text that is not valid UTF-8 is taken as the ANSI code page.
std::wstring Widen(const std::string& s);
std::string Narrow(const wchar_t* w, size_t len);
}  // namespace platform
