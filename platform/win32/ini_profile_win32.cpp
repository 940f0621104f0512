// INI profile reading and writing through the Windows private-profile functions.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {

std::wstring ToWide(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    UINT codePage = CP_UTF8;
    if (n <= 0) {  // not UTF-8: take it as the ANSI code page
        codePage = CP_ACP;
        n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    }
    std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

std::string ToUtf8(const wchar_t* w, size_t len) {
    if (len == 0) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), &s[0], n, nullptr, nullptr);
    return s;
}

}  // namespace

int ProfileGetInt(const std::string& section, const std::string& key, int defaultValue, const std::string& iniPath) {
    // An empty path would make Windows read win.ini.
    if (iniPath.empty()) return defaultValue;
    return static_cast<int>(GetPrivateProfileIntW(ToWide(section).c_str(), ToWide(key).c_str(), defaultValue,
                                                  ToWide(iniPath).c_str()));
}

std::string ProfileGetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                             const std::string& iniPath, size_t bufferSize) {
    if (bufferSize == 0) return {};
    std::string value;
    if (iniPath.empty()) {
        value = defaultValue;
    } else {
        std::wstring buf(bufferSize, L'\0');
        DWORD n = GetPrivateProfileStringW(ToWide(section).c_str(), ToWide(key).c_str(), ToWide(defaultValue).c_str(),
                                           &buf[0], static_cast<DWORD>(bufferSize), ToWide(iniPath).c_str());
        value = ToUtf8(buf.data(), n);
    }
    if (value.size() > bufferSize - 1) value.resize(bufferSize - 1);
    return value;
}

bool ProfileWriteString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& iniPath) {
    if (iniPath.empty() || section.empty() || key.empty()) return false;
    return WritePrivateProfileStringW(ToWide(section).c_str(), ToWide(key).c_str(), ToWide(value).c_str(),
                                      ToWide(iniPath).c_str()) != 0;
}

void ProfileFlush(const std::string& iniPath) {
    if (!iniPath.empty()) WritePrivateProfileStringW(nullptr, nullptr, nullptr, ToWide(iniPath).c_str());
}

}  // namespace platform
