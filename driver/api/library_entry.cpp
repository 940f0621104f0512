// What the driver does when a process loads and unloads it.
#include "driver/api/config_once.h"
#include "driver/api/device.h"
#include "driver/config/driver_config.h"
#include "driver/log/log.h"
#include "driver/config/module_identity.h"
#include "driver/dpdu/dpdu_backend.h"
#include "platform/platform.h"

void LibraryAttach() {
    try {
        WriteEarlyLog("%s: process attach pid=%lu path=%s", ModuleBaseName().c_str(),
                      static_cast<unsigned long>(platform::CurrentProcessId()), ModuleFullPath().c_str());
        LoadDriverConfig();
        if (g_config.ConfigFatal) WriteLogLine("Configuration fatal: will deny PassThruOpen (not blocking DLL load)");
    } catch (...) {
        // A load never fails because of the driver's own state.
    }
}

void LibraryDetach(bool processEnding) {
    try {
        ReleaseInstanceLock();
        if (processEnding) Dpdu_ProcessEnding();
        platform::ThreadTextShutdown();
    } catch (...) {
    }
}
