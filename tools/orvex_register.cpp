// orvex-register: registers the driver libraries beside it where J2534 hosts look for them.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/registration.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string exe = platform::HostExecutablePath();
    size_t cut = exe.find_last_of("\\/");
    std::string ownDir = cut == std::string::npos ? std::string(".") : exe.substr(0, cut);
    std::string out, err;
    int rc = RunRegisterCommand(args, DriverPlaces{}, ownDir, &out, &err);
    std::fputs(out.c_str(), stdout);
    std::fputs(err.c_str(), stderr);
    return rc;
}
