// What the library's unload hook needs of the POSIX platform layer: its threads ended, the crash
// signals given back.
#pragma once

namespace platform {
// Asks every thread started by StartLibraryThread that still runs to stop, and waits for all.
void EndLibraryThreads();
// Gives each crash signal back to the handler it had before the guard took it, where the
// guard's own is still installed: once the library is unmapped, a handler in it would turn the
// host's next fault (or a runtime's deliberate one, as a JVM's) into a crash.
void ReleaseCrashHandlers();
}  // namespace platform
