// The POSIX side of StartLibraryThread that the library's unload hook needs.
#pragma once

namespace platform {
// Asks every thread started by StartLibraryThread that still runs to stop, and waits for all.
void EndLibraryThreads();
}  // namespace platform
