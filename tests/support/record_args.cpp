// Stand-in for a helper program the driver starts: writes its arguments, one per line, into
// a file named after its own executable plus ".args", then ends.
#include <string>

#include "platform/platform.h"

int main(int argc, char** argv) {
    std::string text;
    for (int i = 0; i < argc; ++i) text += std::string(argv[i]) + "\n";
    std::string target = platform::HostExecutablePath() + ".args";
    // Written aside and renamed, so a reader never sees half a file.
    return platform::WriteWholeFile(target + ".tmp", text) && platform::RenameReplace(target + ".tmp", target) ? 0 : 1;
}
