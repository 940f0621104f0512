#include "tools/passthru/j2534_library.h"

#include "platform/platform.h"

namespace {
template <typename Fn>
bool Bind(void* handle, const char* name, Fn* out, std::string* missing) {
    *out = reinterpret_cast<Fn>(platform::GetLibrarySymbol(handle, name));
    if (!*out) *missing += std::string(missing->empty() ? "" : ", ") + name;
    return *out != nullptr;
}
}  // namespace

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
    Bind(lib->handle, "PassThruOpen", &lib->Open, &missing);
    Bind(lib->handle, "PassThruClose", &lib->Close, &missing);
    Bind(lib->handle, "PassThruConnect", &lib->Connect, &missing);
    Bind(lib->handle, "PassThruDisconnect", &lib->Disconnect, &missing);
    Bind(lib->handle, "PassThruReadMsgs", &lib->ReadMsgs, &missing);
    Bind(lib->handle, "PassThruWriteMsgs", &lib->WriteMsgs, &missing);
    Bind(lib->handle, "PassThruStartMsgFilter", &lib->StartMsgFilter, &missing);
    Bind(lib->handle, "PassThruReadVersion", &lib->ReadVersion, &missing);
    Bind(lib->handle, "PassThruGetLastError", &lib->GetLastError, &missing);
    Bind(lib->handle, "PassThruIoctl", &lib->Ioctl, &missing);
    if (missing.empty()) return true;
    *error = "'" + path + "' is not a J2534 04.04 library: it lacks " + missing;
    UnloadJ2534Library(lib);
    return false;
}

void UnloadJ2534Library(J2534Library* lib) {
    if (lib->handle) platform::FreeLibraryFile(lib->handle);
    *lib = J2534Library{};
}
