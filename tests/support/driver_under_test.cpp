#include "tests/support/driver_under_test.h"

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

const std::string kQuickProbeIni =
    "[DpduSettings]\nModuleProbeQuickAttempts=1\nModuleProbeQuickDelayMs=0\nModuleProbeSlowAttempts=0\n"
    "ModuleProbeReinitAttempts=0\n[General]\nEnableInstanceLock=0\n";

size_t CountOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
    return n;
}

std::string BuiltLibrary(const std::string& baseName) {
    return JoinPath(TestBinDir(), baseName + platform::SharedLibrarySuffix());
}

namespace {
std::string CopyPath(const DriverUnderTest* d) { return JoinPath(d->dir, d->baseName + platform::SharedLibrarySuffix()); }

bool LoadAndBind(DriverUnderTest* d) {
    const std::string target = CopyPath(d);
    d->handle = platform::LoadLibraryFile(target);
    if (!d->handle) {
        ADD_FAILURE() << "cannot load " << target;
        return false;
    }
    if (!BindJ2534Functions([&](const char* name) { return platform::GetLibrarySymbol(d->handle, name); }, d)) {
        ADD_FAILURE() << "an export is missing from " << target;
        return false;
    }
    return true;
}

bool LoadDriverCopyInto(DriverUnderTest* d, const std::string& dir, const std::string& baseName, const char* iniText) {
    d->dir = dir;
    d->baseName = baseName;
    std::string target = CopyPath(d);
    if (!CopyFileTo(BuiltLibrary("Orvex_J2534"), target)) {
        ADD_FAILURE() << "cannot copy the driver to " << target;
        return false;
    }
    if (iniText) platform::WriteWholeFile(JoinPath(d->dir, baseName + ".ini"), iniText);
    return LoadAndBind(d);
}
}  // namespace

bool LoadDriverCopy(DriverUnderTest* d, const std::string& scenario, const std::string& baseName,
                    const char* iniText) {
    return LoadDriverCopyInto(d, MakeScenarioDir(scenario), baseName, iniText);
}

std::string VciSimFileName() { return std::string("VciSim") + platform::SharedLibrarySuffix(); }

namespace {
std::string DriverIniWithVciSim(const std::string& baseName, const std::string& iniText) {
    // The backend type must match the family the library's file name selects.
    std::string variant = baseName.find("TRX4820") != std::string::npos ? "TRX4820"
                          : baseName.compare(0, 3, "TVN") == 0        ? "TVN"
                                                                       : "Orvex";
    // The type comes first (its presets give way to the test's keys); the library name comes
    // last, so keys that the system's INI reader takes from the first section of a name (such
    // as [DpduSettings] KeepLoaded) stay with the test's own sections.
    return "[Backend]\nType=" + variant + "\n" + iniText + "\n[DpduSettings]\nDllName=" + VciSimFileName() + "\n";
}

// A fresh folder holding the simulator; empty when it cannot be copied. The folder must hold the
// simulator before the driver loads: the INI names it.
std::string FolderWithVciSim(const std::string& scenario, const char* vciSimIni) {
    std::string dir = MakeScenarioDir(scenario);
    if (!CopyFileTo(JoinPath(TestBinDir(), VciSimFileName()), JoinPath(dir, VciSimFileName()))) {
        ADD_FAILURE() << "cannot copy the simulated VCI";
        return {};
    }
    if (vciSimIni) platform::WriteWholeFile(JoinPath(dir, "VciSim.ini"), vciSimIni);
    return dir;
}
}  // namespace

bool LoadDriverWithVciSim(DriverUnderTest* d, const std::string& scenario, const std::string& baseName,
                          const std::string& iniText, const char* vciSimIni) {
    d->dir = FolderWithVciSim(scenario, vciSimIni);
    if (d->dir.empty()) return false;
    return LoadDriverCopyInto(d, d->dir, baseName, DriverIniWithVciSim(baseName, iniText).c_str());
}

std::string PrepareDriverFolder(const std::string& scenario, const std::string& baseName, const std::string& iniText,
                                const char* vciSimIni) {
    std::string dir = FolderWithVciSim(scenario, vciSimIni);
    if (dir.empty()) return dir;
    if (!CopyFileTo(BuiltLibrary("Orvex_J2534"), JoinPath(dir, baseName + platform::SharedLibrarySuffix()))) {
        ADD_FAILURE() << "cannot copy the driver";
        return {};
    }
    platform::WriteWholeFile(JoinPath(dir, baseName + ".ini"), DriverIniWithVciSim(baseName, iniText));
    return dir;
}

void UnloadDriverCopy(DriverUnderTest* d) {
    platform::FreeLibraryFile(d->handle);
    d->handle = nullptr;
}

bool ReloadDriverCopy(DriverUnderTest* d) {
    UnloadDriverCopy(d);
    return LoadAndBind(d);
}

std::string DriverUnderTest::LastError() const {
    char buf[80] = {0};
    GetLastError(buf);
    return buf;
}

std::string DriverUnderTest::LogPath() const {
    return JoinPath(JoinPath(dir, "Logs"), baseName + ".log");
}

std::string DriverUnderTest::LogText() const { return ReadFileText(LogPath()); }
