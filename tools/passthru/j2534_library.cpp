#include "tools/passthru/j2534_library.h"

#include "platform/platform.h"

std::string J2534Library::LastError() const {
    char text[80] = {0};
    if (GetLastError) GetLastError(text);
    text[79] = '\0';
    return text;
}

bool LoadJ2534Library(const std::string& path, J2534Library* lib, std::string* error) {
    *lib = J2534Library{};
    lib->handle = platform::LoadLibraryFile(path);
    if (!lib->handle) {
        *error = "cannot load the J2534 library '" + path + "'";
        return false;
    }
    std::string missing;
    auto lookup = [&](const char* name) {
        void* symbol = platform::GetLibrarySymbol(lib->handle, name);
        if (!symbol) missing += std::string(missing.empty() ? "" : ", ") + name;
        return symbol;
    };
    if (BindJ2534Functions(lookup, lib)) return true;
    *error = "'" + path + "' is not a J2534 04.04 library: it lacks " + missing;
    UnloadJ2534Library(lib);
    return false;
}

void UnloadJ2534Library(J2534Library* lib) {
    if (lib->handle) platform::FreeLibraryFile(lib->handle);
    *lib = J2534Library{};
}
