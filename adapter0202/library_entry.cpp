// What the adapter does when a process loads and unloads it: nothing at load (the 04.04
// library is loaded by the first call), the clean-up of an explicit unload at unload.
#include "adapter0202/adapter.h"
#include "platform/platform.h"

void LibraryAttach() {}

void LibraryDetach(bool processEnding) { AdapterUnload(processEnding); }
