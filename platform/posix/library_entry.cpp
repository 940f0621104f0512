// Load and unload hooks of a shared library on POSIX. exit() destroys the library's static
// objects before any library's destructors run, while dlclose runs this library's destructor
// before its static objects go; so the flag below is set exactly when the unload comes from
// process exit.
#include "platform/platform.h"
#include "platform/posix/library_threads.h"

namespace {
bool g_processEnding = false;

struct ProcessEndWatch {
    ~ProcessEndWatch() { g_processEnding = true; }
} g_processEndWatch;
}  // namespace

__attribute__((constructor)) static void OnLibraryLoad() { LibraryAttach(); }
// At dlclose the library's threads go first: they may use everything the detach releases. At
// exit they were ended before the static objects went.
__attribute__((destructor)) static void OnLibraryUnload() {
    if (!g_processEnding) platform::EndLibraryThreads();
    LibraryDetach(g_processEnding);
    if (!g_processEnding) platform::ReleaseCrashHandlers();
}
