#include "controlpad/panel_settings.h"

#include <cctype>
#include <climits>
#include <map>

#include "platform/platform.h"

namespace {

const char* const kIniNames[] = {"Orvex_J2534.ini", "TRX4820_J2534.ini", "TVN_J2534.ini"};
const char* const kProbeSection = "__Controlpad";
const char* const kProbeKey = "_writeprobe";

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool SamePathNoCase(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string JoinPath(std::string folder, const std::string& name) {
    if (folder.empty() || !platform::IsPathSeparator(folder.back())) folder += platform::kPathSeparator;
    return folder + name;
}

// The driver reads these switches as booleans ("1", "true", "yes", "on"); a plain number that
// is not 0 counts as on as well.
bool ReadSwitch(const std::string& section, const std::string& key, const std::string& ini) {
    const std::string word = Upper(platform::ProfileGetString(section, key, "", ini));
    return word == "TRUE" || word == "YES" || word == "ON" || platform::ProfileGetInt(section, key, 0, ini) != 0;
}

}  // namespace

PanelOptions ParsePanelOptions(const std::vector<std::string>& args) {
    std::map<std::string, std::string> first;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        const std::string& name = args[i];
        if (name != "--inipath" && name != "--ini" && name != "--stopevent" && name != "--parentpid") continue;
        first.emplace(name, args[i + 1]);  // a later occurrence does not replace it
        ++i;
    }
    PanelOptions o;
    o.iniPath = first["--inipath"].empty() ? first["--ini"] : first["--inipath"];
    o.stopEvent = first["--stopevent"];
    const int pid = FieldNumber(first["--parentpid"], 0);
    o.hasParentPid = pid > 0;
    o.parentPid = o.hasParentPid ? static_cast<uint32_t>(pid) : 0;
    return o;
}

std::vector<std::string> FindCandidateInis(const std::string& programPath) {
    const std::string folder = FolderOf(programPath);
    std::vector<std::string> found;
    for (const char* name : kIniNames) {
        const std::string path = JoinPath(folder, name);
        const platform::FileInfo info = platform::GetFileInfo(path);
        if (info.exists && !info.isDirectory) found.push_back(path);
    }
    return found;
}

PanelIniFiles ChoosePanelInis(const std::string& programPath, const std::string& givenPath) {
    PanelIniFiles files;
    files.all = FindCandidateInis(programPath);
    if (givenPath.empty()) {
        if (!files.all.empty()) files.active = files.all.front();
        return files;
    }
    // A bare name would otherwise be looked up in the Windows folder by the profile functions.
    const std::string cwd = platform::CurrentDirectory();
    files.active = platform::IsAbsolutePath(givenPath) || cwd.empty() ? givenPath : JoinPath(cwd, givenPath);
    bool listed = false;
    for (const std::string& path : files.all) listed = listed || SamePathNoCase(path, files.active);
    if (!listed) files.all.insert(files.all.begin(), files.active);
    return files;
}

bool ProbeWritable(const PanelIniFiles& files) {
    for (const std::string& path : files.all) {
        if (!platform::ProfileWriteString(kProbeSection, kProbeKey, "1", path)) continue;
        platform::ProfileDeleteKey(kProbeSection, kProbeKey, path);
        platform::ProfileDeleteSection(kProbeSection, path);
        platform::ProfileFlush(path);
        return true;
    }
    return false;
}

PanelSettings ReadPanelSettings(const std::string& ini) {
    PanelSettings s;
    s.bench = ReadSwitch("Bench", "BenchEnabled", ini) || ReadSwitch("Bench", "Enabled", ini);
    s.profile = NormalizeProfile(platform::ProfileGetString("Profile", "Mode", "DEFAULT", ini));
    s.noEcuTimeoutMs = platform::ProfileGetInt("Bench", "NoEcuTimeoutMs", kDefaultNoEcuTimeoutMs, ini);
    if (s.noEcuTimeoutMs < 1) s.noEcuTimeoutMs = kDefaultNoEcuTimeoutMs;
    s.batteryMilliVolts = platform::ProfileGetInt("BatteryConfig", "DefaultMilliVolts", kDefaultBatteryMilliVolts, ini);
    if (s.batteryMilliVolts < 1) s.batteryMilliVolts = kDefaultBatteryMilliVolts;
    s.ignitionOn = platform::ProfileGetInt("Ignition", "ForceIgnitionOn", 0, ini) != 0;
    s.capture = ReadSwitch("Capture", "Enabled", ini);
    return s;
}

void WritePanelSettings(const PanelIniFiles& files, const PanelSettings& s) {
    auto put = [&files](const char* section, const char* key, const std::string& value) {
        for (const std::string& path : files.all) platform::ProfileWriteString(section, key, value, path);
    };
    auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
    const std::string profile = s.profile.empty() ? std::string("DEFAULT") : s.profile;
    put("Profile", "Mode", profile);
    put("PCMflash", "PCMflashEnabled", flag(profile == "PCMFLASH"));
    if (profile == "XENTRY") {
        for (const char* key : {"UseSendRecvIso15765", "StripCanIdInDataForIso15765", "TryIso15765ComParams",
                                "FallbackPayloadOnlyIfComParamsFail", "InstallIso15765ResponseFilters"})
            put("Xentry", key, "1");
    } else if (profile == "ODIS") {
        put("Odis", "UseSendRecvIso15765", "1");
    }
    put("Bench", "BenchEnabled", flag(s.bench));
    if (s.bench) {
        put("Bench", "NoEcuMode", "1");
        put("BatteryConfig", "AlwaysOverride", "1");
        put("Bench", "NoEcuTimeoutMs", std::to_string(s.noEcuTimeoutMs));
        put("BatteryConfig", "DefaultMilliVolts", std::to_string(s.batteryMilliVolts));
    }
    put("Ignition", "ForceIgnitionOn", flag(s.ignitionOn));
    put("Capture", "Enabled", flag(s.capture));
    for (const std::string& path : files.all) platform::ProfileFlush(path);
}

std::string NormalizeProfile(const std::string& text) {
    size_t b = 0, e = text.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (b < e && blank(text[b])) ++b;
    while (e > b && blank(text[e - 1])) --e;
    const std::string name = Upper(text.substr(b, e - b));
    // Other names the driver accepts for the listed profiles; read as "no match" they would
    // show DEFAULT and the next change anywhere in the window would drop the user's profile.
    if (name.empty() || name == "GENERIC") return "DEFAULT";
    if (name == "MB") return "XENTRY";
    if (name == "VW") return "ODIS";
    if (name == "PCM_FLASH") return "PCMFLASH";
    return name;
}

int FieldNumber(const std::string& text, int fallback) {
    size_t i = 0, e = text.size();
    while (i < e && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    while (e > i && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    if (i < e && text[i] == '+') ++i;
    if (i == e) return fallback;
    long long n = 0;
    for (; i < e; ++i) {
        if (text[i] < '0' || text[i] > '9') return fallback;  // also a minus sign: never positive
        n = n * 10 + (text[i] - '0');
        if (n > INT_MAX) return fallback;
    }
    return n < 1 ? fallback : static_cast<int>(n);
}
