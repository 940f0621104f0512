// A copy of the built driver in a scenario folder, loaded through the OS loader with its
// exports looked up by name.
#pragma once

#include <string>

#include "common/j2534_functions.h"

struct DriverUnderTest : J2534Functions {
    std::string dir;       // scenario folder
    std::string baseName;  // e.g. "Orvex_J2534"
    void* handle = nullptr;

    std::string LastError() const;
    std::string LogPath() const;  // default log location: <dir>/Logs/<baseName>.log
    std::string LogText() const;
};

// Copies the driver into a fresh scenario folder under baseName (plus the platform's
// suffix), writes iniText into baseName + ".ini" when it is not null, and loads it.
// Fails the current test (and returns false) when the copy cannot be loaded.
bool LoadDriverCopy(DriverUnderTest* d, const std::string& scenario, const std::string& baseName,
                    const char* iniText);
void UnloadDriverCopy(DriverUnderTest* d);
// Unloads the copy and loads the same file again, so that the driver starts from a fresh state.
bool ReloadDriverCopy(DriverUnderTest* d);

// LoadDriverCopy with the simulated VCI beside the driver: VciSim is copied into the folder
// (with vciSimIni as its VciSim.ini when not null) and the driver's INI is iniText between
// the [Backend] Type line and the [DpduSettings] DllName line that select it.
bool LoadDriverWithVciSim(DriverUnderTest* d, const std::string& scenario, const std::string& baseName,
                          const std::string& iniText, const char* vciSimIni);
// The folder of LoadDriverWithVciSim without loading the driver: a fresh scenario folder with
// VciSim, its VciSim.ini (when not null), a copy of the driver named baseName and its INI.
// Empty (with the test failed) when a copy cannot be made.
std::string PrepareDriverFolder(const std::string& scenario, const std::string& baseName, const std::string& iniText,
                                const char* vciSimIni);
// File name of the simulated VCI library on this platform, e.g. "VciSim.dll".
std::string VciSimFileName();

// INI lines that keep module probing short (a scenario without a module must not cost seconds)
// and the machine-wide instance lock off (test processes run in parallel).
extern const std::string kQuickProbeIni;
// How often part occurs in text.
size_t CountOf(const std::string& text, const std::string& part);

// Path of a built deliverable in the test's bin folder, e.g. BuiltFile("Orvex_J2534").
std::string BuiltLibrary(const std::string& baseName);
