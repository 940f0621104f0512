#include "driver/config/driver_config.h"

#include <cstdio>
#include <initializer_list>

#include "driver/config/config_keys.h"
#include "driver/config/config_values.h"
#include "driver/config/host_profile.h"
#include "driver/config/ini_parser.h"
#include "driver/config/log_path.h"
#include "driver/log/log.h"
#include "driver/config/module_identity.h"
#include "driver/config/variant_presets.h"
#include "platform/platform.h"

DriverConfig g_config;

namespace {

std::string ReplaceExtension(const std::string& path, const char* ext) {
    const size_t sep = path.find_last_of("\\/");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return path + ext;
    return path.substr(0, dot) + ext;
}

// Whether the vendor library stays loaded, read with the system's INI reader before the rest.
void ReadToolkitRetention(ConfigLoad& l) {
    const std::string& ini = l.c.IniPath;
    int keep = platform::ProfileGetInt("DpduSettings", "KeepLoaded", -1, ini);
    if (keep < 0) keep = platform::ProfileGetInt("Backend", "KeepToolkitLoaded", 0, ini);
    const int exitAfter = platform::ProfileGetInt("DpduSettings", "ExitToolkitAfterSession", 0, ini);
    l.c.KeepToolkitLoaded = keep != 0 && exitAfter == 0;
    char line[128];
    std::snprintf(line, sizeof line, "DpduSettings: KeepLoaded=%d ExitToolkitAfterSession=%d -> KeepToolkitLoaded=%d",
                  keep != 0 ? 1 : 0, exitAfter != 0 ? 1 : 0, l.c.KeepToolkitLoaded ? 1 : 0);
    l.Log(line);
}

void ApplyDoipMode(ConfigLoad& l) {
    auto& d = l.c.DoIP;
    switch (l.c.DoipMode) {
        case DriverConfig::DoipModeKind::Direct:
            d.DirectDoIP = true;
            d.NativeDoIP = false;
            d.DirectDoIPFallback = false;
            d.FallbackEnabled = false;
            l.Log("DoIP Mode=Direct (no backend fallback)");
            break;
        case DriverConfig::DoipModeKind::Backend:
            d.DirectDoIP = false;
            d.NativeDoIP = false;
            d.DirectDoIPFallback = false;
            d.FallbackEnabled = false;
            l.Log("DoIP Mode=Backend (DirectDoIP disabled)");
            break;
        case DriverConfig::DoipModeKind::Auto:
            if (l.c.FallbackExplicit) d.DirectDoIPFallback = d.FallbackEnabled = d.Fallback;
            l.Log(std::string("DoIP Mode=Auto (fallback=") + (d.DirectDoIPFallback ? "1" : "0") + ")");
            break;
    }
}

// ORVEX_CAPTURE=path asks for a capture to that file; what the INI says wins.
void ApplyCaptureEnvironment(DriverConfig& c) {
    std::string path;
    if (!platform::GetEnv("ORVEX_CAPTURE", &path) || path.empty()) return;
    if (!c.CaptureEnabledExplicit) c.Capture.Enabled = true;
    if (c.Capture.File.empty()) c.Capture.File = path;
}

void CheckBackendAndLibrary(ConfigLoad& l) {
    DriverConfig& c = l.c;
    if (!c.BackendTypeSet || c.BackendTypeName.empty()) {
        l.Fatal("Dpdu_Init: ERROR: Backend type not specified in INI (expected [Backend] Type=Orvex / TRX4820 / TVN)");
    } else if (!c.BackendVariant.empty() && !EqualsNoCase(c.BackendTypeName, c.BackendVariant.c_str())) {
        l.Fatal("Dpdu_Init: ERROR: Backend type in INI does not match DLL variant (INI=" + c.BackendTypeName +
                ", DLL=" + c.BackendVariant + ")");
    }
    const std::string& name = c.DpduSettings.DllName;
    const std::string& dir = c.DpduSettings.DllPath;
    if (name.empty())
        l.Fatal("Dpdu_Init: ERROR: [DpduSettings] DllName is missing (no hardcoded fallback paths)");
    else
        c.DpduLibraryPath = dir.empty() ? name : dir + platform::kPathSeparator + name;
}

}  // namespace

void LoadDriverConfigFrom(const std::string& modulePath, DriverConfig* cfg, std::vector<std::string>* heldLines) {
    ConfigLoad l{*cfg, *heldLines};
    DriverConfig& c = *cfg;
    const std::string baseName = modulePath.empty() ? "Orvex_J2534" : platform::StripExtension(platform::LastPathComponent(modulePath));
    const std::string moduleDir = platform::WithoutLastComponent(modulePath);
    c.DriverVersion = "Z-0.2.2.6";
    c.ApiVersion = "04.04";
    ApplyVariantFromFileName(c, baseName);

    // The INI beside the library, else one of that name in the current directory.
    const std::string besideLibrary = modulePath.empty() ? std::string() : ReplaceExtension(modulePath, ".ini");
    const std::string bareName = baseName + ".ini";
    const std::string candidateA =
        !besideLibrary.empty() && platform::GetFileInfo(besideLibrary).exists ? besideLibrary : bareName;
    std::string found;
    for (const std::string& candidate : {candidateA, bareName})
        if (found.empty() && platform::GetFileInfo(candidate).exists) found = candidate;
    const std::string iniFile = found.empty() ? candidateA : found;
    c.IniPath = platform::IsAbsolutePath(iniFile) ? iniFile : platform::JoinDir(platform::CurrentDirectory(), iniFile);
    if (found.empty()) {
        l.Log("INI not found in any known location, using defaults");
        c.BackendTypeSet = false;
        c.Ignition.StateFile = platform::JoinDir(moduleDir, "Orvex_IgnitionState.txt");
    } else {
        // Beside the INI in use (its absolute folder, so a bare name does not point at the root).
        c.Ignition.StateFile = platform::JoinDir(platform::WithoutLastComponent(c.IniPath), "Orvex_IgnitionState.txt");
    }
    l.Log("Loading config from INI: " + c.IniPath);

    ReadToolkitRetention(l);

    std::string text;
    if (!found.empty() && platform::ReadWholeFile(c.IniPath, &text)) {
        ForEachIniKey(text, [&l](const std::string& section, const std::string& key, const std::string& value) {
            ApplyConfigKey(l, section, key, value);
        });
    }
    c.IgnitionOn = c.Ignition.IgnitionState;

    ApplyDoipMode(l);
    c.LogFilePath = ResolveLogPath(c.Logging.LogPath, c.Logging.LogFile, moduleDir, baseName);
    ApplyCaptureEnvironment(c);
    c.CaptureFilePath = ResolveCapturePath(c.Capture.File, moduleDir, baseName);

    if (c.DasProfile && !c.XentryProfile) {
        c.ISOTP.EnableComParams = c.DAS.TryIso15765ComParams;
        l.Log(c.DAS.TryIso15765ComParams ? "DAS profile: ISO15765 ComParams enabled by config"
                                         : "ISO15765: ComParam IDs disabled for DAS profile");
    }
    CheckBackendAndLibrary(l);
}
