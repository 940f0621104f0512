// INI profile reading and writing through the Windows private-profile functions.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/text_win32.h"

namespace platform {

int ProfileGetInt(const std::string& section, const std::string& key, int defaultValue, const std::string& iniPath) {
    // An empty path would make Windows read win.ini.
    if (iniPath.empty()) return defaultValue;
    return static_cast<int>(GetPrivateProfileIntW(Widen(section).c_str(), Widen(key).c_str(), defaultValue,
                                                  Widen(iniPath).c_str()));
}

std::string ProfileGetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                             const std::string& iniPath, size_t bufferSize) {
    if (bufferSize == 0) return {};
    std::string value;
    if (iniPath.empty()) {
        value = defaultValue;
    } else {
        std::wstring buf(bufferSize, L'\0');
        DWORD n = GetPrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), Widen(defaultValue).c_str(),
                                           &buf[0], static_cast<DWORD>(bufferSize), Widen(iniPath).c_str());
        value = Narrow(buf.data(), n);
    }
    if (value.size() > bufferSize - 1) value.resize(bufferSize - 1);
    return value;
}

bool ProfileWriteString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& iniPath) {
    if (iniPath.empty() || section.empty() || key.empty()) return false;
    return WritePrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), Widen(value).c_str(),
                                      Widen(iniPath).c_str()) != 0;
}

bool ProfileDeleteKey(const std::string& section, const std::string& key, const std::string& iniPath) {
    if (iniPath.empty() || section.empty() || key.empty()) return false;
    return WritePrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), nullptr, Widen(iniPath).c_str()) != 0;
}

bool ProfileDeleteSection(const std::string& section, const std::string& iniPath) {
    if (iniPath.empty() || section.empty()) return false;
    return WritePrivateProfileStringW(Widen(section).c_str(), nullptr, nullptr, Widen(iniPath).c_str()) != 0;
}

void ProfileFlush(const std::string& iniPath) {
    if (!iniPath.empty()) WritePrivateProfileStringW(nullptr, nullptr, nullptr, Widen(iniPath).c_str());
}

}  // namespace platform
