// A J2534 host session against the simulated VCI: the driver and VciSim are copied into a
// fresh folder with an INI, loaded through the OS loader, and driven through the exported
// functions. Prints every call with its result, then the driver's log and the VCI's trace.
#include <cstdio>
#include <string>

#include "common/j2534.h"
#include "platform/platform.h"

namespace {

std::string Join(const std::string& dir, const std::string& name) { return dir + platform::kPathSeparator + name; }

std::string OwnDir() {
    std::string exe = platform::HostExecutablePath();
    size_t pos = exe.find_last_of("\\/");
    return pos == std::string::npos ? std::string(".") : exe.substr(0, pos);
}

bool Copy(const std::string& from, const std::string& to) {
    std::string data;
    return platform::ReadWholeFile(from, &data) && platform::WriteWholeFile(to, data);
}

struct Driver {
    PassThruOpenFn Open;
    PassThruCloseFn Close;
    PassThruConnectFn Connect;
    PassThruDisconnectFn Disconnect;
    PassThruReadVersionFn ReadVersion;
    PassThruGetLastErrorFn GetLastError;
    PassThruIoctlFn Ioctl;
};

template <typename Fn>
bool Bind(void* lib, const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(platform::GetLibrarySymbol(lib, name));
    if (!*out) std::printf("missing export %s\n", name);
    return *out != nullptr;
}

void Report(const Driver& d, const char* call, int32_t rc) {
    char text[80] = {0};
    d.GetLastError(text);
    std::printf("%-44s rc=0x%02X  last error: %s\n", call, static_cast<unsigned>(rc), text);
}

void PrintFile(const char* title, const std::string& path) {
    std::string text;
    std::printf("\n----- %s (%s) -----\n", title, path.c_str());
    if (!platform::ReadWholeFile(path, &text)) {
        std::printf("(missing)\n");
        return;
    }
    std::string clean;
    for (char c : text)
        if (c != '\r') clean += c;
    std::fputs(clean.c_str(), stdout);
}

}  // namespace

int main() {
    const std::string bin = OwnDir();
    const std::string dir = Join(bin, "demo");
    const std::string suffix = platform::SharedLibrarySuffix();
    platform::CreateDirectories(dir);
    const std::string driverPath = Join(dir, "Orvex_J2534" + suffix);
    const std::string logPath = Join(Join(dir, "Logs"), "Orvex_J2534.log");
    const std::string tracePath = Join(dir, "VciSim.trace");
    platform::RemoveFile(logPath);
    platform::RemoveFile(tracePath);
    if (!Copy(Join(bin, "Orvex_J2534" + suffix), driverPath) || !Copy(Join(bin, "VciSim" + suffix), Join(dir, "VciSim" + suffix))) {
        std::printf("cannot copy the driver and VciSim from %s\n", bin.c_str());
        return 1;
    }
    platform::WriteWholeFile(Join(dir, "Orvex_J2534.ini"),
                             "[Backend]\r\nType=Orvex\r\n"
                             "[DpduSettings]\r\nDllName=VciSim" + suffix + "\r\n"
                             "[Logging]\r\nLogEnabled=1\r\n");
    platform::WriteWholeFile(Join(dir, "VciSim.ini"), "[General]\r\nTrace=VciSim.trace\r\n");

    std::printf("Demo folder: %s\n\n", dir.c_str());
    void* lib = platform::LoadLibraryFile(driverPath);
    if (!lib) {
        std::printf("cannot load %s\n", driverPath.c_str());
        return 1;
    }
    Driver d{};
    if (!Bind(lib, "PassThruOpen", &d.Open) || !Bind(lib, "PassThruClose", &d.Close) ||
        !Bind(lib, "PassThruConnect", &d.Connect) || !Bind(lib, "PassThruDisconnect", &d.Disconnect) ||
        !Bind(lib, "PassThruReadVersion", &d.ReadVersion) || !Bind(lib, "PassThruGetLastError", &d.GetLastError) ||
        !Bind(lib, "PassThruIoctl", &d.Ioctl))
        return 1;

    char fw[80], dll[80], api[80];
    Report(d, "PassThruReadVersion", d.ReadVersion(0, fw, dll, api));
    std::printf("    firmware %s, DLL %s, API %s\n", fw, dll, api);

    uint32_t device = 0;
    int32_t rc = d.Open(nullptr, &device);
    Report(d, "PassThruOpen", rc);
    if (rc != 0) return 1;

    uint32_t isoChannel = 0, canChannel = 0;
    Report(d, "PassThruConnect(ISO15765, 500000)", d.Connect(device, j2534::ISO15765, 0, 500000, &isoChannel));
    std::printf("    channel %u\n", isoChannel);
    Report(d, "PassThruConnect(CAN, 500000)", d.Connect(device, j2534::CAN, 0, 500000, &canChannel));
    std::printf("    channel %u\n", canChannel);
    Report(d, "PassThruConnect(J1850VPW)", d.Connect(device, j2534::J1850VPW, 0, 10400, &canChannel));
    Report(d, "PassThruDisconnect(ISO15765 channel)", d.Disconnect(isoChannel));
    Report(d, "PassThruClose", d.Close(device));
    platform::FreeLibraryFile(lib);

    PrintFile("driver log", logPath);
    PrintFile("VciSim trace", tracePath);
    return 0;
}
