// A 02.02 host that ends without cleaning up: loads the adapter named on its command line,
// connects an ISO 15765 channel, writes "rc=<code>" into the result file and returns from main
// with the channel still connected and the adapter still loaded.
#include <string>

#include "platform/platform.h"
#include "tests/support/adapter_under_test.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::string result = "rc=load-failed\n";
    platform::LibraryHandle lib = platform::LoadLibraryFile(argv[1]);
    if (lib) {
        auto connect = reinterpret_cast<Pt0202ConnectFn>(platform::GetLibrarySymbol(lib, "PassThruConnect"));
        j2534::ULONG channel = 0;
        if (connect) result = "rc=" + std::to_string(connect(j2534::ISO15765, 0, &channel)) + "\n";
    }
    return platform::WriteWholeFile(argv[2], result) ? 0 : 1;
}
