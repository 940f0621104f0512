#include "driver/config/driver_config.h"

#include <cstdio>
#include <initializer_list>

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

bool KeyIs(const std::string& key, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (EqualsNoCase(key, n)) return true;
    return false;
}

struct Loader {
    DriverConfig& c;
    std::vector<std::string>& lines;
    // Cut like a formatted log line, so that an over-long INI value cannot flood the log.
    void Log(const std::string& line) { lines.push_back(line.substr(0, 4095)); }
    void Fatal(const std::string& line) {
        Log(line);
        c.ConfigFatal = true;
    }
};

void SetUint(const std::string& value, uint32_t* field) { ParseUint(value, field); }

void SetNonEmpty(const std::string& value, std::string* field) {
    if (!value.empty()) *field = value;
}

void BatteryKey(Loader& l, const std::string& k, const std::string& v) {
    auto& s = l.c.BatteryConfig;
    if (KeyIs(k, {"AlwaysOverride", "Override", "Enabled"}))
        s.AlwaysOverride = ParseBool(v);
    else if (KeyIs(k, {"DefaultMilliVolts", "MilliVolts", "Value", "DefaultVolts", "DefaultVoltage", "Volts",
                       "Voltage"}))
        ParseMilliVolts(v, &s.DefaultMilliVolts);
    else if (KeyIs(k, {"MinValid"}))
        s.MinValid = static_cast<uint32_t>(ParseDecimalInt(v));
    else if (KeyIs(k, {"MaxValid"}))
        s.MaxValid = static_cast<uint32_t>(ParseDecimalInt(v));
    else if (KeyIs(k, {"ClampToValid"}))
        s.ClampToValid = ParseBool(v);
}

void LoggingKey(Loader& l, const std::string& k, const std::string& v) {
    auto& s = l.c.Logging;
    if (KeyIs(k, {"ExposeResourceId"}))
        s.ExposeResourceId = ParseBool(v);
    else if (KeyIs(k, {"LogEnabled"}))
        s.LogEnabled = ParseDecimalInt(v) != 0;
    else if (KeyIs(k, {"LogPath", "LogDir"}))
        s.LogPath = v;
    else if (KeyIs(k, {"LogFile"}))
        s.LogFile = v;
}

void GeneralKey(Loader& l, const std::string& k, const std::string& v) {
    if (KeyIs(k, {"EnableInstanceLock"})) {
        l.c.General.EnableInstanceLock = ParseBool10(v);
    } else if (KeyIs(k, {"Mode"})) {
        if (EqualsNoCase(v, "BENCH") || EqualsNoCase(v, "REALISTIC")) {
            l.c.Bench.BenchEnabled = EqualsNoCase(v, "BENCH");
            l.c.BenchExplicit = true;
        }
    }
}

void ProfileName(Loader& l, const std::string& v) {
    DriverConfig& c = l.c;
    if (v.empty() || EqualsNoCase(v, "DEFAULT") || EqualsNoCase(v, "GENERIC")) return;
    if (EqualsNoCase(v, "DAS")) {
        c.ProfileExplicit = true;
        c.DasProfile = true;
        c.XentryProfile = false;
        l.Log("Profile Mode set to DAS");
    } else if (EqualsNoCase(v, "XENTRY") || EqualsNoCase(v, "MB")) {
        c.ProfileExplicit = true;
        c.XentryProfile = true;
    } else if (EqualsNoCase(v, "ODIS") || EqualsNoCase(v, "VW")) {
        c.ProfileExplicit = true;
        c.OdisProfile = true;
    } else if (EqualsNoCase(v, "PCMFLASH") || EqualsNoCase(v, "PCM_FLASH")) {
        c.ProfileExplicit = true;
        ApplyPcmflashProfile(c);
    } else if (EqualsNoCase(v, "PIWIS")) {
        c.ProfileExplicit = true;
        c.PiwisProfile = true;
    } else {
        l.Log("Profile Mode ignored (unknown): " + v);
    }
}

bool NoEcuKey(Loader& l, const std::string& k, const std::string& v) {
    if (!KeyIs(k, {"NoEcuMode", "NoECUMode", "NoEcu"})) return false;
    l.c.Bench.NoEcuMode = ParseBool(v);
    l.c.NoEcuExplicit = true;
    return true;
}

void ProfileKey(Loader& l, const std::string& k, const std::string& v) {
    if (KeyIs(k, {"Mode", "Name"}))
        ProfileName(l, v);
    else
        NoEcuKey(l, k, v);
}

void DasKey(Loader& l, const std::string& k, const std::string& v) {
    auto& s = l.c.DAS;
    const bool b = ParseBool(v);
    if (KeyIs(k, {"ForcePhysical"})) {
        s.ForcePhysical = b;
        if (b) l.c.DasProfile = true;
    } else if (KeyIs(k, {"DasPath", "DasExePath"})) {
        SetNonEmpty(v, &s.DasPath);
    } else if (KeyIs(k, {"RewriteFunctional7DF", "Rewrite7DF"})) {
        s.RewriteFunctional7DF = b;
    } else if (KeyIs(k, {"TryIso15765ComParams", "TryComParams"})) {
        s.TryIso15765ComParams = b;
    } else if (KeyIs(k, {"DisablePayloadOnlyFallback", "DisablePayloadOnly"})) {
        s.DisablePayloadOnlyFallback = b;
    } else if (KeyIs(k, {"DropOtherIsoTpRx", "DropOtherRx"})) {
        s.DropOtherIsoTpRx = b;
    } else if (KeyIs(k, {"InjectTesterPresent", "AutoTesterPresent"})) {
        s.InjectTesterPresent = b;
    } else if (KeyIs(k, {"InjectSessionStart", "AutoSessionStart"})) {
        s.InjectSessionStart = b;
    } else if (KeyIs(k, {"InjectDelayMs", "WakeDelayMs"})) {
        SetUint(v, &s.InjectDelayMs);
    } else if (KeyIs(k, {"Pairs", "IdPairs"})) {
        ParseIdPairs(v, &l.c.DasIdPairs);
    }
}

void PcmflashKey(Loader& l, const std::string& k, const std::string& v) {
    auto& s = l.c.PCMflash;
    const bool b = ParseBool(v);
    if (KeyIs(k, {"PCMflashEnabled", "Enabled", "Enable", "Force"})) {
        s.PCMflashEnabled = b;
        if (b) {
            s.UseSendRecvIso15765 = true;
            s.TryIso15765ComParams = true;
            s.InstallIso15765ResponseFilters = true;
            s.ForceUnloadOnClose = true;
        }
        return;
    }
    if (KeyIs(k, {"PcmflashPath", "PcmflashExePath"})) {
        s.PcmflashPath = v;
        return;
    }
    // Every other key of this section needs the PCMflash settings switched on earlier.
    if (!s.PCMflashEnabled) return;
    if (KeyIs(k, {"ForceRawCan", "ForceRaw", "RawCan"}))
        s.ForceRawCan = b;
    else if (KeyIs(k, {"ForceIsoTp", "ForceIso15765", "IsoTp"}))
        s.ForceIsoTp = b;
    else if (KeyIs(k, {"ExclusiveDevice", "Exclusive"}))
        s.ExclusiveDevice = b;
    else if (KeyIs(k, {"UseKwpOnCan", "KwpOnCan", "PreferKwpOnCan"}))
        s.UseKwpOnCan = b;
    else if (KeyIs(k, {"FallbackToIso15765", "FallbackIso15765", "Fallback"}))
        s.FallbackToIso15765 = b;
    else if (KeyIs(k, {"AllowKLine", "EnableKLine", "KLine"}))
        s.AllowKLine = b;
    else if (KeyIs(k, {"UseSendRecvIso15765", "SendRecvIso15765"}))
        s.UseSendRecvIso15765 = b;
    else if (KeyIs(k, {"UseSendRecvIso15765FD", "SendRecvIso15765FD"}))
        s.UseSendRecvIso15765FD = b;
    else if (KeyIs(k, {"TryIso15765ComParams", "UseIso15765ComParams"}))
        s.TryIso15765ComParams = b;
    else if (KeyIs(k, {"InstallIso15765ResponseFilters", "InstallIso15765Filters"}))
        s.InstallIso15765ResponseFilters = b;
    else if (KeyIs(k, {"ForceUnloadOnClose", "ForceUnload"}))
        s.ForceUnloadOnClose = b;
    else if (KeyIs(k, {"KeepLoaded", "KeepToolkitLoaded"}))
        l.c.KeepToolkitLoaded = b;
}

void OdisKey(Loader& l, const std::string& k, const std::string& v) {
    if (KeyIs(k, {"UseSendRecvIso15765", "SendRecvIso15765"}))
        l.c.Odis.UseSendRecvIso15765 = ParseBool(v);
    else if (KeyIs(k, {"KeepLoaded", "KeepToolkitLoaded"}))
        l.c.KeepToolkitLoaded = ParseBool(v);
    else if (KeyIs(k, {"ODIS-PassThruWrapper", "OdisPath", "OdisExePath"}))
        SetNonEmpty(v, &l.c.Odis.OdisPath);
}

void XentryKey(Loader& l, const std::string& k, const std::string& v) {
    auto& s = l.c.Xentry;
    const bool b = ParseBool(v);
    if (KeyIs(k, {"UseSendRecvIso15765", "SendRecvIso15765"}))
        s.UseSendRecvIso15765 = b;
    else if (KeyIs(k, {"XENTRY-PassThruWrapper", "XentryPath", "XentryExePath"}))
        SetNonEmpty(v, &s.XentryPath);
    else if (KeyIs(k, {"TryIso15765ComParams", "UseIso15765ComParams"}))
        s.TryIso15765ComParams = b;
    else if (KeyIs(k, {"InstallIso15765ResponseFilters", "InstallIso15765Filters"}))
        s.InstallIso15765ResponseFilters = b;
    else if (KeyIs(k, {"ExclusiveDevice", "Exclusive"}))
        s.ExclusiveDevice = b;
    else if (KeyIs(k, {"ForceUnloadOnClose", "ForceUnload"}))
        s.ForceUnloadOnClose = b;
    else if (KeyIs(k, {"KeepLoaded", "KeepToolkitLoaded"}))
        l.c.KeepToolkitLoaded = b;
}

void PiwisKey(Loader& l, const std::string& k, const std::string& v) {
    if (KeyIs(k, {"PiwisPath", "PiwisExePath"})) l.c.Piwis.PiwisPath = v;
}

void IgnitionKey(Loader& l, const std::string& k, const std::string& v) {
    auto& s = l.c.Ignition;
    const bool b = ParseBool(v);
    if (KeyIs(k, {"EnableOverride", "Override", "Enabled"}))
        s.EnableOverride = b;
    else if (KeyIs(k, {"IgnitionState", "State"}))
        s.IgnitionState = b;
    else if (KeyIs(k, {"LauncherEnabled", "AutoStart"}))
        s.LauncherEnabled = b;
    else if (KeyIs(k, {"IgnitionExePath", "ExePath"}))
        s.IgnitionExePath = v;
    else if (KeyIs(k, {"StateFile", "SharedStateFile"}))
        s.StateFile = v;
}

void BenchKey(Loader& l, const std::string& k, const std::string& v) {
    if (KeyIs(k, {"BenchEnabled", "Enabled", "Mode", "Bench"})) {
        // "Mode=BENCH" must not read as off: the mode names count as well as the booleans.
        l.c.Bench.BenchEnabled = ParseBool(v) || EqualsNoCase(v, "BENCH");
        l.c.BenchExplicit = true;
    } else if (!NoEcuKey(l, k, v) && KeyIs(k, {"NoEcuTimeoutMs", "NoECUTimeoutMs", "NoEcuTimeout"})) {
        SetUint(v, &l.c.Bench.NoEcuTimeoutMs);
    }
}

void DpduSettingsKey(Loader& l, const std::string& k, const std::string& v) {
    auto& s = l.c.DpduSettings;
    if (KeyIs(k, {"DllName", "DpduDll"}))
        s.DllName = v;
    else if (KeyIs(k, {"DllPath", "DpduDllPath"}))
        s.DllPath = v;
    else if (KeyIs(k, {"ResourceIdProbe", "ExposeResourceIds"}))
        s.ResourceIdProbe = ParseBool(v);
    else if (KeyIs(k, {"ModuleProbeQuickAttempts"}))
        SetUint(v, &s.ModuleProbeQuickAttempts);
    else if (KeyIs(k, {"ModuleProbeQuickDelayMs"}))
        SetUint(v, &s.ModuleProbeQuickDelayMs);
    else if (KeyIs(k, {"ModuleProbeSlowAttempts"}))
        SetUint(v, &s.ModuleProbeSlowAttempts);
    else if (KeyIs(k, {"ModuleProbeSlowDelayMs"}))
        SetUint(v, &s.ModuleProbeSlowDelayMs);
    else if (KeyIs(k, {"ModuleProbeReinitAttempts"}))
        SetUint(v, &s.ModuleProbeReinitAttempts);
    else if (KeyIs(k, {"ModuleProbeReinitDelayMs"}))
        SetUint(v, &s.ModuleProbeReinitDelayMs);
    else if (KeyIs(k, {"CanFdAllowAltRawFallback", "CanFdAllowRawFallback"}))
        s.CanFdAllowAltRawFallback = ParseBool(v);
    else if (KeyIs(k, {"CanFdAllowRidUndefFallback", "CanFdAllowResourceIdUndefFallback"}))
        s.CanFdAllowRidUndefFallback = ParseBool(v);
}

void DoipKey(Loader& l, const std::string& k, const std::string& v) {
    auto& s = l.c.DoIP;
    const bool b = ParseBool(v);
    if (KeyIs(k, {"AllowEmptyResourceList"})) {
        s.AllowEmptyResourceList = b;
    } else if (KeyIs(k, {"Mode", "DoipMode"})) {
        l.c.DoipMode = EqualsNoCase(v, "DIRECT")    ? DriverConfig::DoipModeKind::Direct
                       : EqualsNoCase(v, "BACKEND") ? DriverConfig::DoipModeKind::Backend
                                                    : DriverConfig::DoipModeKind::Auto;
    } else if (KeyIs(k, {"Fallback", "AllowFallback"})) {
        s.Fallback = b;
        l.c.FallbackExplicit = true;
    } else if (KeyIs(k, {"AllowMissingResourceList", "AllowMissingResourceIds"})) {
        s.AllowMissingResourceList = b;
    } else if (KeyIs(k, {"SkipEthSwitchIoctl", "DisableEthSwitchIoctl"})) {
        s.SkipEthSwitchIoctl = b;
    } else if (KeyIs(k, {"VehicleDiscoveryTimeMs"})) {
        SetUint(v, &s.VehicleDiscoveryTimeMs);
    } else if (KeyIs(k, {"VehicleDiscoveryCombinationMode", "CombinationMode"})) {
        SetUint(v, &s.VehicleDiscoveryCombinationMode);
    } else if (KeyIs(k, {"EthSwitchDelayMs", "EthSwitchToggleDelayMs"})) {
        SetUint(v, &s.EthSwitchDelayMs);
    } else if (KeyIs(k, {"SwitchSettleMs", "EthSwitchSettleMs"})) {
        SetUint(v, &s.SwitchSettleMs);
    } else if (KeyIs(k, {"SwitchRetries", "EthSwitchRetries"})) {
        SetUint(v, &s.SwitchRetries);
    } else if (KeyIs(k, {"SwitchRetryDelayMs", "EthSwitchRetryDelayMs"})) {
        SetUint(v, &s.SwitchRetryDelayMs);
    } else if (KeyIs(k, {"EthSwitchToggle", "EthSwitchSequence"})) {
        s.EthSwitchToggle = b;
    } else if (KeyIs(k, {"AltResourceIds", "ResourceIdList", "AlternateResourceIds"})) {
        l.c.AltResourceIds = ParseResourceIdList(v);
    } else if (KeyIs(k, {"UseRscDataFallback", "UseRscDataOnly"})) {
        s.UseRscDataFallback = b;
    } else if (KeyIs(k, {"UseRidUndefFallback"})) {
        s.UseRidUndefFallback = b;
    } else if (KeyIs(k, {"UseRscDataWithResourceId", "UseRscDataAndResourceId"})) {
        s.UseRscDataWithResourceId = b;
    } else if (KeyIs(k, {"DiscoveryAddress", "DiscoveryIp"})) {
        s.DiscoveryAddress = v;
    } else if (KeyIs(k, {"TargetIp", "TargetIP"})) {
        s.TargetIp = v;
        if (s.NativeTargetIp.empty()) s.NativeTargetIp = v;
    } else if (KeyIs(k, {"BindIp", "BindIP"})) {
        s.BindIp = v;
        if (s.NativeBindIp.empty()) s.NativeBindIp = v;
    } else if (KeyIs(k, {"TargetPort"})) {
        if (ParseUint(v, &s.TargetPort)) s.NativeTargetPort = s.TargetPort;
    } else if (KeyIs(k, {"Discovery"})) {
        s.Discovery = b;
    } else if (KeyIs(k, {"SkipVehicleIdRequest", "DisableVehicleIdRequest"})) {
        s.SkipVehicleIdRequest = b;
    } else if (KeyIs(k, {"AllowCreateAltRetry", "CreateCllAllowAltRetry"})) {
        s.AllowCreateAltRetry = b;
    } else if (KeyIs(k, {"DoipModuleHint", "ModuleHint"})) {
        s.DoipModuleHint = v;
    } else if (KeyIs(k, {"LegacyFlow"})) {
        s.LegacyFlow = b;
    } else if (KeyIs(k, {"SwitchFirst", "EthSwitchFirst"})) {
        s.SwitchFirst = b;
    } else if (KeyIs(k, {"DirectDoIP", "BypassPduApi", "BypassBackend", "EnableDirect", "EnableDirectDoIP"})) {
        s.DirectDoIP = b;
    } else if (KeyIs(k, {"DirectDoIPFallback", "DirectFallback"})) {
        s.DirectDoIPFallback = b;
    } else if (KeyIs(k, {"NoBackendFallback", "NoFallback"})) {
        s.DirectDoIPFallback = !b;
        s.FallbackEnabled = !b;
    } else if (KeyIs(k, {"AllowEthSwitchFailure"})) {
        s.AllowEthSwitchFailure = b;
    } else if (KeyIs(k, {"NativeDoIP", "NativeEnabled"})) {
        s.NativeDoIP = b;
    } else if (KeyIs(k, {"FallbackEnabled"})) {
        s.FallbackEnabled = b;
    } else if (KeyIs(k, {"DiscoveryBroadcast"})) {
        s.DiscoveryBroadcast = v;
    } else if (KeyIs(k, {"DiscoveryUnicast"})) {
        s.DiscoveryUnicast = v;
    } else if (KeyIs(k, {"DiscoveryTimeoutMs"})) {
        SetUint(v, &s.DiscoveryTimeoutMs);
    } else if (KeyIs(k, {"NativeTargetIp", "NativeTargetIP"})) {
        s.NativeTargetIp = v;
    } else if (KeyIs(k, {"NativeBindIp", "NativeBindIP"})) {
        s.NativeBindIp = v;
    } else if (KeyIs(k, {"NativeTargetPort"})) {
        SetUint(v, &s.NativeTargetPort);
    } else if (KeyIs(k, {"NativeSrc"})) {
        SetUint(v, &s.NativeSrc);
    } else if (KeyIs(k, {"NativeDst"})) {
        SetUint(v, &s.NativeDst);
    } else if (KeyIs(k, {"NativeRA", "RoutingActivationType"})) {
        SetUint(v, &s.NativeRA);
    } else if (KeyIs(k, {"DoRA", "DoRoutingActivation"})) {
        s.DoRA = b;
    } else if (KeyIs(k, {"UseRaEntity", "UseRaEntityAddress"})) {
        s.UseRaEntity = b;
    } else if (KeyIs(k, {"EthSwitchIoctlTimeoutMs"})) {
        SetUint(v, &s.EthSwitchIoctlTimeoutMs);
    } else if (KeyIs(k, {"DoIPProtocolVersion"})) {
        SetUint(v, &s.DoIPProtocolVersion);
    } else if (KeyIs(k, {"DoIPIpVersion"})) {
        SetUint(v, &s.DoIPIpVersion);
    } else if (KeyIs(k, {"SingleClickState"})) {
        SetUint(v, &s.SingleClickState);
    }
}

void IsotpKey(Loader& l, const std::string& k, const std::string& v) {
    auto& s = l.c.ISOTP;
    if (KeyIs(k, {"EnableComParams", "ComParams", "SetIds"}))
        s.EnableComParams = ParseBool(v);
    else if (KeyIs(k, {"FallbackToRawCan", "FallbackRawCan"}))
        s.FallbackToRawCan = ParseBool(v);
    else if (KeyIs(k, {"FallbackCanIdInData", "ForceCanIdInData", "CanIdInDataFallback"}))
        s.FallbackCanIdInData = ParseBool(v);
}

void Iso15765Key(Loader& l, const std::string& k, const std::string& v) {
    DriverConfig& c = l.c;
    if (KeyIs(k, {"PayloadPolicy", "PayloadMode"})) {
        const std::string u = UpperAscii(v);
        if (u.find("UDS") != std::string::npos || u.find("APDU") != std::string::npos)
            c.UdsApduOnly = true;
        else if (u.find("ISOTP") != std::string::npos || u.find("ISO-TP") != std::string::npos)
            c.UdsApduOnly = false;
        c.UdsApduOnlyExplicit = true;
    } else if (KeyIs(k, {"UdsApduOnly", "StripIsoTpPci"})) {
        c.UdsApduOnly = ParseBool(v);
        c.UdsApduOnlyExplicit = true;
    } else if (KeyIs(k, {"AssumeCanIdPrefix", "AssumeCanIdInData"})) {
        c.ISO15765.AssumeCanIdPrefix = ParseBool(v);
    } else {
        IsotpKey(l, k, v);
    }
}

void DeviceFilterKey(Loader& l, const std::string& k, const std::string& v) {
    auto& s = l.c.DeviceFilter;
    if (KeyIs(k, {"DeviceName", "IncludeModule", "IncludeDevice", "IncludedDevice"})) {
        // A named variant keeps its own module-name pattern.
        if (l.c.BackendVariant.empty()) s.DeviceName = v;
    } else if (KeyIs(k, {"VendorName", "IncludeVendor"})) {
        s.VendorName = v;
    } else if (KeyIs(k, {"SerialNumber"})) {
        s.SerialNumber = v;
    }
}

void BackendKey(Loader& l, const std::string& k, const std::string& v) {
    if (KeyIs(k, {"Type", "BackendType"})) {
        l.c.BackendTypeSet = true;
        if (!ApplyBackendType(l.c, v)) {
            l.c.BackendTypeSet = false;
            l.Fatal("Dpdu_Init: ERROR: Backend type in INI is invalid. Allowed: Orvex / TRX4820 / TVN");
        }
    } else if (KeyIs(k, {"DpduDll", "DllName"})) {
        l.c.DpduSettings.DllName = v;
    } else if (KeyIs(k, {"DpduDllPath", "DllPath"})) {
        l.c.DpduSettings.DllPath = v;
    }
}

void ResourceIdsKey(Loader& l, const std::string& k, const std::string& v) {
    auto& r = l.c.ResourceIds;
    uint32_t* field = KeyIs(k, {"CanHS", "CAN"})                                   ? &r.CanHS
                      : KeyIs(k, {"CanRawHS", "CANRAW"})                           ? &r.CanRawHS
                      : KeyIs(k, {"CanFdHS", "CANFD", "CANFDHS"})                  ? &r.CanFdHS
                      : KeyIs(k, {"Iso15765FdHS", "ISO15765FD", "ISO15765FDHS"})   ? &r.Iso15765FdHS
                      : KeyIs(k, {"KLine", "ISO9141"})                             ? &r.KLine
                      : KeyIs(k, {"DoIP", "ETH"})                                  ? &r.DoIP
                      : KeyIs(k, {"KwpOnCanHS", "KwpOnCan", "KwpCan", "Kwp2000Can"}) ? &r.KwpOnCanHS
                      : KeyIs(k, {"CanLS", "CANLS"})                               ? &r.CanLS
                      : KeyIs(k, {"CanRawLS", "CANRAWLS"})                         ? &r.CanRawLS
                      : KeyIs(k, {"CanFdLS", "CANFDLS"})                           ? &r.CanFdLS
                      : KeyIs(k, {"Iso15765FdLS", "ISO15765FDLS"})                 ? &r.Iso15765FdLS
                      : KeyIs(k, {"KwpOnCanLS", "KwpOnCan2", "Kwp2000Can2"})       ? &r.KwpOnCanLS
                                                                                   : nullptr;
    if (field) SetUint(v, field);
}

void CanFdKey(Loader& l, const std::string& k, const std::string& v) {
    auto& s = l.c.CanFd;
    if (KeyIs(k, {"Enable", "Enabled", "Support", "Supported"})) {
        s.Enable = ParseBool(v);
    } else if (KeyIs(k, {"DataBaud", "BaudrateFD", "DataRate"})) {
        SetUint(v, &s.DataBaud);
    } else if (KeyIs(k, {"TxMaxDataLength", "MaxLen", "Dlc"})) {
        if (ParseUint(v, &s.TxMaxDataLength) && s.TxMaxDataLength == 0) s.EnableTxMaxLen = false;
    } else if (KeyIs(k, {"EnableTxMaxLen", "SetTxMaxLen", "TxMaxLenEnabled"})) {
        s.EnableTxMaxLen = ParseBool(v);
    } else if (KeyIs(k, {"PreferIso15765Resource", "PreferIso15765", "PreferUdsResource"})) {
        s.PreferIso15765Resource = ParseBool(v);
    }
}

void J2534Key(Loader& l, const std::string& k, const std::string& v) {
    if (KeyIs(k, {"WriteUsesSendRecv", "SendAsSendRecv"})) l.c.J2534.WriteUsesSendRecv = ParseBool(v);
}

using SectionHandler = void (*)(Loader&, const std::string&, const std::string&);

SectionHandler FindSection(const std::string& s) {
    struct Entry {
        const char* name;
        const char* alias;
        SectionHandler handler;
    };
    static const Entry kSections[] = {
        {"BatteryConfig", "Battery", BatteryKey}, {"Logging", nullptr, LoggingKey},
        {"General", nullptr, GeneralKey},         {"Profile", nullptr, ProfileKey},
        {"DAS", nullptr, DasKey},                 {"PCMflash", nullptr, PcmflashKey},
        {"Odis", nullptr, OdisKey},               {"Xentry", nullptr, XentryKey},
        {"Piwis", nullptr, PiwisKey},             {"Ignition", nullptr, IgnitionKey},
        {"Bench", "BenchMode", BenchKey},         {"DpduSettings", nullptr, DpduSettingsKey},
        {"DoIP", nullptr, DoipKey},               {"ISO15765", nullptr, Iso15765Key},
        {"DeviceFilter", nullptr, DeviceFilterKey}, {"Backend", nullptr, BackendKey},
        {"ResourceIds", nullptr, ResourceIdsKey}, {"CanFd", nullptr, CanFdKey},
        {"ISOTP", nullptr, IsotpKey},             {"J2534", "Transport", J2534Key},
    };
    for (const Entry& e : kSections)
        if (EqualsNoCase(s, e.name) || (e.alias && EqualsNoCase(s, e.alias))) return e.handler;
    return nullptr;
}

std::string ReplaceExtension(const std::string& path, const char* ext) {
    const size_t sep = path.find_last_of("\\/");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return path + ext;
    return path.substr(0, dot) + ext;
}

// Whether the vendor library stays loaded, read with the system's INI reader before the rest.
void ReadToolkitRetention(Loader& l) {
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

void ApplyDoipMode(Loader& l) {
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

void CheckBackendAndLibrary(Loader& l) {
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
    Loader l{*cfg, *heldLines};
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
            if (SectionHandler handler = FindSection(section)) handler(l, key, value);
        });
    }
    c.IgnitionOn = c.Ignition.IgnitionState;

    ApplyDoipMode(l);
    c.LogFilePath = ResolveLogPath(c.Logging.LogPath, c.Logging.LogFile, moduleDir, baseName);

    if (c.DasProfile && !c.XentryProfile) {
        c.ISOTP.EnableComParams = c.DAS.TryIso15765ComParams;
        l.Log(c.DAS.TryIso15765ComParams ? "DAS profile: ISO15765 ComParams enabled by config"
                                         : "ISO15765: ComParam IDs disabled for DAS profile");
    }
    CheckBackendAndLibrary(l);
}
