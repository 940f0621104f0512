// Load and unload hooks of a shared library on POSIX.
#include "platform/platform.h"

__attribute__((constructor)) static void OnLibraryLoad() { LibraryAttach(); }
__attribute__((destructor)) static void OnLibraryUnload() { LibraryDetach(); }
