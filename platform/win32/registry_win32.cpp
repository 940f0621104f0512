// The registry below HKEY_LOCAL_MACHINE, in the 32-bit or 64-bit view.
#include "platform/platform.h"

#include <windows.h>

#include "platform/win32/text_win32.h"

namespace platform {

namespace {
REGSAM ViewFlag(int viewBits) {
    if (viewBits == 32) return KEY_WOW64_32KEY;
    if (viewBits == 64) return KEY_WOW64_64KEY;
    return 0;
}

RegistryResult FromError(LSTATUS rc) {
    switch (rc) {
        case ERROR_SUCCESS: return RegistryResult::Ok;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return RegistryResult::NotFound;
        case ERROR_ACCESS_DENIED: return RegistryResult::AccessDenied;
        default: return RegistryResult::Failed;
    }
}

// An open key, closed when it goes out of scope.
struct Key {
    HKEY handle = nullptr;
    ~Key() {
        if (handle) RegCloseKey(handle);
    }
};

RegistryResult Open(const std::string& key, int viewBits, REGSAM access, Key* out) {
    return FromError(RegOpenKeyExW(HKEY_LOCAL_MACHINE, Widen(key).c_str(), 0, access | ViewFlag(viewBits), &out->handle));
}

// REG_SZ data may or may not end in a terminator; both read the same.
std::string StringData(const std::vector<BYTE>& data) {
    size_t chars = data.size() / sizeof(wchar_t);
    const wchar_t* w = reinterpret_cast<const wchar_t*>(data.data());
    while (chars > 0 && w[chars - 1] == L'\0') --chars;
    return Narrow(w, chars);
}
}  // namespace

RegistryResult RegistryListSubkeys(const std::string& key, int viewBits, std::vector<std::string>* names) {
    names->clear();
    Key k;
    RegistryResult r = Open(key, viewBits, KEY_READ, &k);
    if (r != RegistryResult::Ok) return r;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD len = 256;
        LSTATUS rc = RegEnumKeyExW(k.handle, i, name, &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return RegistryResult::Ok;
        if (rc != ERROR_SUCCESS) return FromError(rc);
        names->push_back(Narrow(name, len));
    }
}

RegistryResult RegistryReadValues(const std::string& key, int viewBits, std::vector<RegistryValue>* values) {
    values->clear();
    Key k;
    RegistryResult r = Open(key, viewBits, KEY_READ, &k);
    if (r != RegistryResult::Ok) return r;
    std::wstring buffer(16384, L'\0');  // the longest value name
    wchar_t* name = &buffer[0];
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = 16384, type = 0, size = 0;
        LSTATUS rc = RegEnumValueW(k.handle, i, name, &nameLen, nullptr, &type, nullptr, &size);
        if (rc == ERROR_NO_MORE_ITEMS) return RegistryResult::Ok;
        if (rc != ERROR_SUCCESS) return FromError(rc);
        std::vector<BYTE> data(size + sizeof(wchar_t));
        nameLen = 16384;
        DWORD got = size;
        rc = RegEnumValueW(k.handle, i, name, &nameLen, nullptr, &type, data.data(), &got);
        if (rc != ERROR_SUCCESS) return FromError(rc);
        data.resize(got);
        RegistryValue v;
        v.name = Narrow(name, nameLen);
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            v.kind = RegistryValue::Kind::String;
            v.text = StringData(data);
        } else if (type == REG_DWORD && got == sizeof(DWORD)) {
            v.kind = RegistryValue::Kind::Dword;
            v.number = *reinterpret_cast<const DWORD*>(data.data());
        }
        values->push_back(v);
    }
}

RegistryResult RegistryWriteValue(const std::string& key, int viewBits, const RegistryValue& value) {
    Key k;
    LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, Widen(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_SET_VALUE | ViewFlag(viewBits), nullptr, &k.handle, nullptr);
    if (rc != ERROR_SUCCESS) return FromError(rc);
    std::wstring name = Widen(value.name);
    if (value.kind == RegistryValue::Kind::String) {
        std::wstring text = Widen(value.text);
        rc = RegSetValueExW(k.handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    } else if (value.kind == RegistryValue::Kind::Dword) {
        DWORD number = value.number;
        rc = RegSetValueExW(k.handle, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    } else {
        return RegistryResult::Failed;
    }
    return FromError(rc);
}

RegistryResult RegistryDeleteValue(const std::string& key, int viewBits, const std::string& name) {
    Key k;
    RegistryResult r = Open(key, viewBits, KEY_SET_VALUE, &k);
    if (r == RegistryResult::NotFound) return RegistryResult::Ok;
    if (r != RegistryResult::Ok) return r;
    r = FromError(RegDeleteValueW(k.handle, Widen(name).c_str()));
    return r == RegistryResult::NotFound ? RegistryResult::Ok : r;
}

RegistryResult RegistryDeleteKeyIfEmpty(const std::string& key, int viewBits) {
    DWORD subkeys = 0, values = 0;
    {
        Key k;
        RegistryResult r = Open(key, viewBits, KEY_READ, &k);
        if (r == RegistryResult::NotFound) return RegistryResult::Ok;
        if (r != RegistryResult::Ok) return r;
        LSTATUS rc = RegQueryInfoKeyW(k.handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                      nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) return FromError(rc);
    }
    if (subkeys != 0 || values != 0) return RegistryResult::Ok;
    RegistryResult r = FromError(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, Widen(key).c_str(), ViewFlag(viewBits), 0));
    return r == RegistryResult::NotFound ? RegistryResult::Ok : r;
}

}  // namespace platform
