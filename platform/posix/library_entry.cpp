// Load and unload hooks of a shared library on POSIX. exit() runs the handlers registered with
// atexit before any library's destructors, while dlclose runs this library's destructor before
// its own atexit handlers; so the flag is set exactly when the unload comes from process exit.
#include <cstdlib>

#include "platform/platform.h"

namespace {
bool g_processEnding = false;
void MarkProcessEnding() { g_processEnding = true; }
}  // namespace

__attribute__((constructor)) static void OnLibraryLoad() {
    std::atexit(MarkProcessEnding);
    LibraryAttach();
}
__attribute__((destructor)) static void OnLibraryUnload() { LibraryDetach(g_processEnding); }
