// Finding, loading and unloading the 04.04 library that lies beside the adapter.
#include <cctype>
#include <cstring>
#include <string>

#include "adapter0202/adapter.h"
#include "adapter0202/adapter_state.h"

AdapterState g_adapter;

namespace {
bool EndsWithNoCase(const std::string& text, const std::string& tail) {
    if (tail.size() > text.size()) return false;
    for (size_t i = 0; i < tail.size(); ++i) {
        unsigned char a = static_cast<unsigned char>(text[text.size() - tail.size() + i]);
        unsigned char b = static_cast<unsigned char>(tail[i]);
        if (std::tolower(a) != std::tolower(b)) return false;
    }
    return true;
}
}  // namespace

std::string ResolveSiblingPath(const std::string& adapterPath, const std::string& librarySuffix) {
    const std::string tail = "_0202" + librarySuffix;
    if (!EndsWithNoCase(adapterPath, tail)) return adapterPath;
    return adapterPath.substr(0, adapterPath.size() - tail.size()) + adapterPath.substr(adapterPath.size() - librarySuffix.size());
}

void SetAdapterError(const char* text) {
    std::strncpy(g_adapter.errorText, text, sizeof g_adapter.errorText - 1);
    g_adapter.errorText[sizeof g_adapter.errorText - 1] = '\0';
}

bool EnsureSiblingLoaded() {
    if (g_adapter.sibling.library) return true;
    std::string path = ResolveSiblingPath(platform::ThisModulePath(), platform::SharedLibrarySuffix());
    if (path.empty()) {
        SetAdapterError("Failed to resolve wrapper path");
        return false;
    }
    SiblingTable table;
    table.library = platform::LoadLibraryFile(path);
    if (!table.library) {
        SetAdapterError("Failed to load sibling 04.04 J2534 DLL");
        return false;
    }
    if (!BindJ2534Functions([&](const char* name) { return platform::GetLibrarySymbol(table.library, name); },
                            &table)) {
        SetAdapterError("Sibling 04.04 J2534 DLL missing required exports");
        platform::FreeLibraryFile(table.library);
        g_adapter.sibling = SiblingTable{};
        return false;
    }
    g_adapter.sibling = table;
    return true;
}

void AdapterUnload(bool processEnding) {
    // At process exit the 04.04 library may already have been shut down (and on Windows other
    // threads are gone, perhaps holding the lock): calling into it could hang or crash, and the
    // system reclaims everything anyway.
    if (processEnding) return;
    try {
        // A host that unloads the adapter while another of its threads is inside a call gets no
        // clean-up rather than a hang in the loader.
        std::unique_lock<std::mutex> lock(g_adapter.lock, std::try_to_lock);
        if (!lock.owns_lock() || !g_adapter.sibling.library) return;
        if (g_adapter.deviceId != 0) g_adapter.sibling.Close(g_adapter.deviceId);
        // The loaders allow releasing another library from an unload hook except at process exit
        // (Windows counts references and unloads it after this one; dlclose nests), so the 04.04
        // library goes with the adapter instead of staying loaded with nobody to call it.
        platform::FreeLibraryFile(g_adapter.sibling.library);
        g_adapter.sibling = SiblingTable{};
        g_adapter.deviceId = 0;
        g_adapter.channels.clear();
    } catch (...) {
    }
}
