// A second host process for the instance lock: loads the driver copy named on its command
// line, tries PassThruOpen, writes "rc=<code>" and "error=<last error>" into the result file
// and closes the device again when the open succeeded.
#include <string>

#include "common/j2534.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::string result = "rc=load-failed\n";
    platform::LibraryHandle lib = platform::LoadLibraryFile(argv[1]);
    if (lib) {
        auto open = reinterpret_cast<PassThruOpenFn>(platform::GetLibrarySymbol(lib, "PassThruOpen"));
        auto close = reinterpret_cast<PassThruCloseFn>(platform::GetLibrarySymbol(lib, "PassThruClose"));
        auto lastError = reinterpret_cast<PassThruGetLastErrorFn>(platform::GetLibrarySymbol(lib, "PassThruGetLastError"));
        if (open && close && lastError) {
            j2534::ULONG id = 0;
            int32_t rc = open(nullptr, &id);
            char text[80] = {0};
            lastError(text);
            result = "rc=" + std::to_string(rc) + "\nerror=" + text + "\n";
            if (rc == 0) close(id);
        }
        platform::FreeLibraryFile(lib);
    }
    std::string target = argv[2];
    return platform::WriteWholeFile(target + ".tmp", result) && platform::RenameReplace(target + ".tmp", target) ? 0 : 1;
}
