// What the control panel keeps in the driver's INI files, apart from its window: which files
// it works on, the settings it shows, and the keys each change writes. Plain C++ over the
// platform's profile functions, so the rules are tested natively as well.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The panel's command line, arguments after the program itself. An option's value is the next
// argument; the first occurrence of an option wins.
struct PanelOptions {
    std::string iniPath;  // "--inipath", else "--ini"; empty when neither was given
    std::string stopEvent;
    bool hasParentPid = false;
    uint32_t parentPid = 0;
};
PanelOptions ParsePanelOptions(const std::vector<std::string>& args);

// Settings are read from the active file; every write goes to each listed file.
struct PanelIniFiles {
    std::string active;  // empty when no INI was found
    std::vector<std::string> all;
};
// The driver INI files beside the program, in the families' order: those that exist as files.
std::vector<std::string> FindCandidateInis(const std::string& programPath);
// A given path (made absolute against the current folder) becomes the active file and joins
// the candidates at the front; without one the first candidate is active.
PanelIniFiles ChoosePanelInis(const std::string& programPath, const std::string& givenPath);
// True when one listed file takes a throw-away key, which is removed again at once.
bool ProbeWritable(const PanelIniFiles& files);

// What the number fields hold when the INI or the user gives no positive number.
constexpr int kDefaultNoEcuTimeoutMs = 200;
constexpr int kDefaultBatteryMilliVolts = 12100;

// What the window shows.
struct PanelSettings {
    bool bench = false;
    std::string profile = "DEFAULT";  // upper-case
    int noEcuTimeoutMs = kDefaultNoEcuTimeoutMs;
    int batteryMilliVolts = kDefaultBatteryMilliVolts;
    bool ignitionOn = false;
    bool capture = false;  // [Capture] Enabled: the driver records the traffic
};
PanelSettings ReadPanelSettings(const std::string& activeIni);
// Writes the settings' keys to every listed file and flushes them. The bench values and the
// vendor profile sections are written only while bench mode or that profile is chosen, so
// what the user set there before stays.
void WritePanelSettings(const PanelIniFiles& files, const PanelSettings& settings);

// A profile name as the panel lists it: blanks, tabs, CR and LF trimmed, upper-case, the
// driver's other names for a profile mapped to the listed one.
std::string NormalizeProfile(const std::string& text);
// The number a field holds, or fallback when it holds 0, a negative number or no number.
int FieldNumber(const std::string& text, int fallback);
