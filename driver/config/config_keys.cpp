#include "driver/config/config_keys.h"

#include <array>
#include <cstddef>

#include "driver/config/config_values.h"
#include "driver/config/host_profile.h"
#include "driver/config/variant_presets.h"

namespace {

using Names = std::array<const char*, 8>;  // a key's name and its aliases; unused places are null
using Custom = void (*)(ConfigLoad&, const std::string& value);

// One key of a section of type S: a switch, a number (unchanged when unreadable), a text (or a
// text that only a non-empty value sets) or a rule of its own.
template <typename S>
struct KeyRule {
    Names names;
    bool S::*flag = nullptr;
    uint32_t S::*number = nullptr;
    std::string S::*text = nullptr;
    bool textIfSet = false;
    Custom custom = nullptr;
};

template <typename S>
KeyRule<S> Flag(Names n, bool S::*field) {
    KeyRule<S> r{n};
    r.flag = field;
    return r;
}
template <typename S>
KeyRule<S> Number(Names n, uint32_t S::*field) {
    KeyRule<S> r{n};
    r.number = field;
    return r;
}
template <typename S>
KeyRule<S> Text(Names n, std::string S::*field, bool onlyIfSet = false) {
    KeyRule<S> r{n};
    r.text = field;
    r.textIfSet = onlyIfSet;
    return r;
}
template <typename S>
KeyRule<S> Rule(Names n, Custom custom) {
    KeyRule<S> r{n};
    r.custom = custom;
    return r;
}

bool Named(const Names& names, const std::string& key) {
    for (const char* n : names)
        if (n && EqualsNoCase(key, n)) return true;
    return false;
}

// The first rule that names the key applies; false when none does.
template <typename S, size_t N>
bool ApplyRules(const KeyRule<S> (&rules)[N], ConfigLoad& l, S& section, const std::string& k, const std::string& v) {
    for (const KeyRule<S>& r : rules) {
        if (!Named(r.names, k)) continue;
        if (r.flag) {
            section.*r.flag = ParseBool(v);
        } else if (r.number) {
            ParseUint(v, &(section.*r.number));
        } else if (r.text) {
            if (!r.textIfSet || !v.empty()) section.*r.text = v;
        } else {
            r.custom(l, v);
        }
        return true;
    }
    return false;
}

using C = DriverConfig;

// The sections' record types (their members carry the same names).
using BatteryConfig = decltype(C::BatteryConfig);
using Bench = decltype(C::Bench);
using Capture = decltype(C::Capture);
using CanFd = decltype(C::CanFd);
using DAS = decltype(C::DAS);
using DeviceFilter = decltype(C::DeviceFilter);
using DpduSettings = decltype(C::DpduSettings);
using General = decltype(C::General);
using ISO15765 = decltype(C::ISO15765);
using ISOTP = decltype(C::ISOTP);
using Ignition = decltype(C::Ignition);
using J2534 = decltype(C::J2534);
using Logging = decltype(C::Logging);
using Odis = decltype(C::Odis);
using PCMflash = decltype(C::PCMflash);
using Piwis = decltype(C::Piwis);
using Profile = decltype(C::Profile);
using Xentry = decltype(C::Xentry);

// ---- Rules shared by several sections -------------------------------------------------------

void KeepLoaded(ConfigLoad& l, const std::string& v) { l.c.KeepToolkitLoaded = ParseBool(v); }

void NoEcu(ConfigLoad& l, const std::string& v) {
    l.c.Bench.NoEcuMode = ParseBool(v);
    l.c.NoEcuExplicit = true;
}
const Names kNoEcuNames = {"NoEcuMode", "NoECUMode", "NoEcu"};

void ProfileName(ConfigLoad& l, const std::string& v) {
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

// ---- The sections ----------------------------------------------------------------------------

const KeyRule<BatteryConfig> kBatteryKeys[] = {
    Flag<BatteryConfig>({"AlwaysOverride", "Override", "Enabled"}, &C::BatteryConfig::AlwaysOverride),
    Rule<BatteryConfig>({"DefaultMilliVolts", "MilliVolts", "Value", "DefaultVolts", "DefaultVoltage", "Volts",
                            "Voltage"},
                           [](ConfigLoad& l, const std::string& v) {
                               ParseMilliVolts(v, &l.c.BatteryConfig.DefaultMilliVolts);
                           }),
    Rule<BatteryConfig>({"MinValid"}, [](ConfigLoad& l, const std::string& v) {
        l.c.BatteryConfig.MinValid = static_cast<uint32_t>(ParseDecimalInt(v));
    }),
    Rule<BatteryConfig>({"MaxValid"}, [](ConfigLoad& l, const std::string& v) {
        l.c.BatteryConfig.MaxValid = static_cast<uint32_t>(ParseDecimalInt(v));
    }),
    Flag<BatteryConfig>({"ClampToValid"}, &C::BatteryConfig::ClampToValid),
};

const KeyRule<Logging> kLoggingKeys[] = {
    Flag<Logging>({"ExposeResourceId"}, &C::Logging::ExposeResourceId),
    Rule<Logging>({"LogEnabled"},
                     [](ConfigLoad& l, const std::string& v) { l.c.Logging.LogEnabled = ParseDecimalInt(v) != 0; }),
    Text<Logging>({"LogPath", "LogDir"}, &C::Logging::LogPath),
    Text<Logging>({"LogFile"}, &C::Logging::LogFile),
};

const KeyRule<Capture> kCaptureKeys[] = {
    Rule<Capture>({"Enabled", "Enable"},
                  [](ConfigLoad& l, const std::string& v) {
                      l.c.Capture.Enabled = ParseBool(v);
                      l.c.CaptureEnabledExplicit = true;
                  }),
    Text<Capture>({"File", "Path"}, &C::Capture::File),
    Number<Capture>({"MaxSizeKB"}, &C::Capture::MaxSizeKB),
    Number<Capture>({"Keep"}, &C::Capture::Keep),
};

const KeyRule<General> kGeneralKeys[] = {
    Rule<General>({"EnableInstanceLock"},
                     [](ConfigLoad& l, const std::string& v) { l.c.General.EnableInstanceLock = ParseBool10(v); }),
    Rule<General>({"Mode"},
                     [](ConfigLoad& l, const std::string& v) {
                         if (!EqualsNoCase(v, "BENCH") && !EqualsNoCase(v, "REALISTIC")) return;
                         l.c.Bench.BenchEnabled = EqualsNoCase(v, "BENCH");
                         l.c.BenchExplicit = true;
                     }),
};

const KeyRule<Profile> kProfileKeys[] = {
    Rule<Profile>({"Mode", "Name"}, &ProfileName),
    Rule<Profile>(kNoEcuNames, &NoEcu),
};

const KeyRule<DAS> kDasKeys[] = {
    Rule<DAS>({"ForcePhysical"},
                 [](ConfigLoad& l, const std::string& v) {
                     l.c.DAS.ForcePhysical = ParseBool(v);
                     if (l.c.DAS.ForcePhysical) l.c.DasProfile = true;
                 }),
    Text<DAS>({"DasPath", "DasExePath"}, &C::DAS::DasPath, true),
    Flag<DAS>({"RewriteFunctional7DF", "Rewrite7DF"}, &C::DAS::RewriteFunctional7DF),
    Flag<DAS>({"TryIso15765ComParams", "TryComParams"}, &C::DAS::TryIso15765ComParams),
    Flag<DAS>({"DisablePayloadOnlyFallback", "DisablePayloadOnly"}, &C::DAS::DisablePayloadOnlyFallback),
    Flag<DAS>({"DropOtherIsoTpRx", "DropOtherRx"}, &C::DAS::DropOtherIsoTpRx),
    Flag<DAS>({"InjectTesterPresent", "AutoTesterPresent"}, &C::DAS::InjectTesterPresent),
    Flag<DAS>({"InjectSessionStart", "AutoSessionStart"}, &C::DAS::InjectSessionStart),
    Number<DAS>({"InjectDelayMs", "WakeDelayMs"}, &C::DAS::InjectDelayMs),
    Rule<DAS>({"Pairs", "IdPairs"}, [](ConfigLoad& l, const std::string& v) { ParseIdPairs(v, &l.c.DasIdPairs); }),
};

// Switching PCMflash on also switches on what its hosts rely on.
const KeyRule<PCMflash> kPcmflashKeys[] = {
    Rule<PCMflash>({"PCMflashEnabled", "Enabled", "Enable", "Force"},
                      [](ConfigLoad& l, const std::string& v) {
                          auto& s = l.c.PCMflash;
                          s.PCMflashEnabled = ParseBool(v);
                          if (!s.PCMflashEnabled) return;
                          s.UseSendRecvIso15765 = true;
                          s.TryIso15765ComParams = true;
                          s.InstallIso15765ResponseFilters = true;
                          s.ForceUnloadOnClose = true;
                      }),
    Text<PCMflash>({"PcmflashPath", "PcmflashExePath"}, &C::PCMflash::PcmflashPath),
};
// These need the PCMflash settings switched on earlier in the file.
const KeyRule<PCMflash> kPcmflashEnabledKeys[] = {
    Flag<PCMflash>({"ForceRawCan", "ForceRaw", "RawCan"}, &C::PCMflash::ForceRawCan),
    Flag<PCMflash>({"ForceIsoTp", "ForceIso15765", "IsoTp"}, &C::PCMflash::ForceIsoTp),
    Flag<PCMflash>({"ExclusiveDevice", "Exclusive"}, &C::PCMflash::ExclusiveDevice),
    Flag<PCMflash>({"UseKwpOnCan", "KwpOnCan", "PreferKwpOnCan"}, &C::PCMflash::UseKwpOnCan),
    Flag<PCMflash>({"FallbackToIso15765", "FallbackIso15765", "Fallback"}, &C::PCMflash::FallbackToIso15765),
    Flag<PCMflash>({"AllowKLine", "EnableKLine", "KLine"}, &C::PCMflash::AllowKLine),
    Flag<PCMflash>({"UseSendRecvIso15765", "SendRecvIso15765"}, &C::PCMflash::UseSendRecvIso15765),
    Flag<PCMflash>({"UseSendRecvIso15765FD", "SendRecvIso15765FD"}, &C::PCMflash::UseSendRecvIso15765FD),
    Flag<PCMflash>({"TryIso15765ComParams", "UseIso15765ComParams"}, &C::PCMflash::TryIso15765ComParams),
    Flag<PCMflash>({"InstallIso15765ResponseFilters", "InstallIso15765Filters"},
                      &C::PCMflash::InstallIso15765ResponseFilters),
    Flag<PCMflash>({"ForceUnloadOnClose", "ForceUnload"}, &C::PCMflash::ForceUnloadOnClose),
    Rule<PCMflash>({"KeepLoaded", "KeepToolkitLoaded"}, &KeepLoaded),
};

const KeyRule<Odis> kOdisKeys[] = {
    Flag<Odis>({"UseSendRecvIso15765", "SendRecvIso15765"}, &C::Odis::UseSendRecvIso15765),
    Rule<Odis>({"KeepLoaded", "KeepToolkitLoaded"}, &KeepLoaded),
    Text<Odis>({"ODIS-PassThruWrapper", "OdisPath", "OdisExePath"}, &C::Odis::OdisPath, true),
};

const KeyRule<Xentry> kXentryKeys[] = {
    Flag<Xentry>({"UseSendRecvIso15765", "SendRecvIso15765"}, &C::Xentry::UseSendRecvIso15765),
    Text<Xentry>({"XENTRY-PassThruWrapper", "XentryPath", "XentryExePath"}, &C::Xentry::XentryPath, true),
    Flag<Xentry>({"TryIso15765ComParams", "UseIso15765ComParams"}, &C::Xentry::TryIso15765ComParams),
    Flag<Xentry>({"InstallIso15765ResponseFilters", "InstallIso15765Filters"},
                    &C::Xentry::InstallIso15765ResponseFilters),
    Flag<Xentry>({"ExclusiveDevice", "Exclusive"}, &C::Xentry::ExclusiveDevice),
    Flag<Xentry>({"ForceUnloadOnClose", "ForceUnload"}, &C::Xentry::ForceUnloadOnClose),
    Rule<Xentry>({"KeepLoaded", "KeepToolkitLoaded"}, &KeepLoaded),
};

const KeyRule<Piwis> kPiwisKeys[] = {
    Text<Piwis>({"PiwisPath", "PiwisExePath"}, &C::Piwis::PiwisPath),
};

const KeyRule<Ignition> kIgnitionKeys[] = {
    Flag<Ignition>({"EnableOverride", "Override", "Enabled"}, &C::Ignition::EnableOverride),
    Flag<Ignition>({"IgnitionState", "State"}, &C::Ignition::IgnitionState),
    Flag<Ignition>({"LauncherEnabled", "AutoStart"}, &C::Ignition::LauncherEnabled),
    Text<Ignition>({"IgnitionExePath", "ExePath"}, &C::Ignition::IgnitionExePath),
    Text<Ignition>({"StateFile", "SharedStateFile"}, &C::Ignition::StateFile),
};

const KeyRule<Bench> kBenchKeys[] = {
    // "Mode=BENCH" must not read as off: the mode names count as well as the booleans.
    Rule<Bench>({"BenchEnabled", "Enabled", "Mode", "Bench"},
                   [](ConfigLoad& l, const std::string& v) {
                       l.c.Bench.BenchEnabled = ParseBool(v) || EqualsNoCase(v, "BENCH");
                       l.c.BenchExplicit = true;
                   }),
    Rule<Bench>(kNoEcuNames, &NoEcu),
    Number<Bench>({"NoEcuTimeoutMs", "NoECUTimeoutMs", "NoEcuTimeout"}, &C::Bench::NoEcuTimeoutMs),
};

const KeyRule<DpduSettings> kDpduSettingsKeys[] = {
    Text<DpduSettings>({"DllName", "DpduDll"}, &C::DpduSettings::DllName),
    Text<DpduSettings>({"DllPath", "DpduDllPath"}, &C::DpduSettings::DllPath),
    Flag<DpduSettings>({"ResourceIdProbe", "ExposeResourceIds"}, &C::DpduSettings::ResourceIdProbe),
    Number<DpduSettings>({"ModuleProbeQuickAttempts"}, &C::DpduSettings::ModuleProbeQuickAttempts),
    Number<DpduSettings>({"ModuleProbeQuickDelayMs"}, &C::DpduSettings::ModuleProbeQuickDelayMs),
    Number<DpduSettings>({"ModuleProbeSlowAttempts"}, &C::DpduSettings::ModuleProbeSlowAttempts),
    Number<DpduSettings>({"ModuleProbeSlowDelayMs"}, &C::DpduSettings::ModuleProbeSlowDelayMs),
    Number<DpduSettings>({"ModuleProbeReinitAttempts"}, &C::DpduSettings::ModuleProbeReinitAttempts),
    Number<DpduSettings>({"ModuleProbeReinitDelayMs"}, &C::DpduSettings::ModuleProbeReinitDelayMs),
    Flag<DpduSettings>({"CanFdAllowAltRawFallback", "CanFdAllowRawFallback"},
                          &C::DpduSettings::CanFdAllowAltRawFallback),
    Flag<DpduSettings>({"CanFdAllowRidUndefFallback", "CanFdAllowResourceIdUndefFallback"},
                          &C::DpduSettings::CanFdAllowRidUndefFallback),
};

using D = decltype(C::DoIP);
const KeyRule<D> kDoipKeys[] = {
    Flag<D>({"AllowEmptyResourceList"}, &D::AllowEmptyResourceList),
    Rule<D>({"Mode", "DoipMode"},
            [](ConfigLoad& l, const std::string& v) {
                l.c.DoipMode = EqualsNoCase(v, "DIRECT")    ? C::DoipModeKind::Direct
                               : EqualsNoCase(v, "BACKEND") ? C::DoipModeKind::Backend
                                                            : C::DoipModeKind::Auto;
            }),
    Rule<D>({"Fallback", "AllowFallback"},
            [](ConfigLoad& l, const std::string& v) {
                l.c.DoIP.Fallback = ParseBool(v);
                l.c.FallbackExplicit = true;
            }),
    Flag<D>({"AllowMissingResourceList", "AllowMissingResourceIds"}, &D::AllowMissingResourceList),
    Flag<D>({"SkipEthSwitchIoctl", "DisableEthSwitchIoctl"}, &D::SkipEthSwitchIoctl),
    Number<D>({"VehicleDiscoveryTimeMs"}, &D::VehicleDiscoveryTimeMs),
    Number<D>({"VehicleDiscoveryCombinationMode", "CombinationMode"}, &D::VehicleDiscoveryCombinationMode),
    Number<D>({"EthSwitchDelayMs", "EthSwitchToggleDelayMs"}, &D::EthSwitchDelayMs),
    Number<D>({"SwitchSettleMs", "EthSwitchSettleMs"}, &D::SwitchSettleMs),
    Number<D>({"SwitchRetries", "EthSwitchRetries"}, &D::SwitchRetries),
    Number<D>({"SwitchRetryDelayMs", "EthSwitchRetryDelayMs"}, &D::SwitchRetryDelayMs),
    Flag<D>({"EthSwitchToggle", "EthSwitchSequence"}, &D::EthSwitchToggle),
    Rule<D>({"AltResourceIds", "ResourceIdList", "AlternateResourceIds"},
            [](ConfigLoad& l, const std::string& v) { l.c.AltResourceIds = ParseResourceIdList(v); }),
    Flag<D>({"UseRscDataFallback", "UseRscDataOnly"}, &D::UseRscDataFallback),
    Flag<D>({"UseRidUndefFallback"}, &D::UseRidUndefFallback),
    Flag<D>({"UseRscDataWithResourceId", "UseRscDataAndResourceId"}, &D::UseRscDataWithResourceId),
    Text<D>({"DiscoveryAddress", "DiscoveryIp"}, &D::DiscoveryAddress),
    // The older keys also set the native client's, unless that has its own.
    Rule<D>({"TargetIp", "TargetIP"},
            [](ConfigLoad& l, const std::string& v) {
                l.c.DoIP.TargetIp = v;
                if (l.c.DoIP.NativeTargetIp.empty()) l.c.DoIP.NativeTargetIp = v;
            }),
    Rule<D>({"BindIp", "BindIP"},
            [](ConfigLoad& l, const std::string& v) {
                l.c.DoIP.BindIp = v;
                if (l.c.DoIP.NativeBindIp.empty()) l.c.DoIP.NativeBindIp = v;
            }),
    Rule<D>({"TargetPort"},
            [](ConfigLoad& l, const std::string& v) {
                if (ParseUint(v, &l.c.DoIP.TargetPort)) l.c.DoIP.NativeTargetPort = l.c.DoIP.TargetPort;
            }),
    Flag<D>({"Discovery"}, &D::Discovery),
    Flag<D>({"SkipVehicleIdRequest", "DisableVehicleIdRequest"}, &D::SkipVehicleIdRequest),
    Flag<D>({"AllowCreateAltRetry", "CreateCllAllowAltRetry"}, &D::AllowCreateAltRetry),
    Text<D>({"DoipModuleHint", "ModuleHint"}, &D::DoipModuleHint),
    Flag<D>({"LegacyFlow"}, &D::LegacyFlow),
    Flag<D>({"SwitchFirst", "EthSwitchFirst"}, &D::SwitchFirst),
    Flag<D>({"DirectDoIP", "BypassPduApi", "BypassBackend", "EnableDirect", "EnableDirectDoIP"}, &D::DirectDoIP),
    Flag<D>({"DirectDoIPFallback", "DirectFallback"}, &D::DirectDoIPFallback),
    Rule<D>({"NoBackendFallback", "NoFallback"},
            [](ConfigLoad& l, const std::string& v) {
                const bool b = ParseBool(v);
                l.c.DoIP.DirectDoIPFallback = !b;
                l.c.DoIP.FallbackEnabled = !b;
            }),
    Flag<D>({"AllowEthSwitchFailure"}, &D::AllowEthSwitchFailure),
    Flag<D>({"NativeDoIP", "NativeEnabled"}, &D::NativeDoIP),
    Flag<D>({"FallbackEnabled"}, &D::FallbackEnabled),
    Text<D>({"DiscoveryBroadcast"}, &D::DiscoveryBroadcast),
    Text<D>({"DiscoveryUnicast"}, &D::DiscoveryUnicast),
    Number<D>({"DiscoveryTimeoutMs"}, &D::DiscoveryTimeoutMs),
    Text<D>({"NativeTargetIp", "NativeTargetIP"}, &D::NativeTargetIp),
    Text<D>({"NativeBindIp", "NativeBindIP"}, &D::NativeBindIp),
    Number<D>({"NativeTargetPort"}, &D::NativeTargetPort),
    Number<D>({"NativeSrc"}, &D::NativeSrc),
    Number<D>({"NativeDst"}, &D::NativeDst),
    Number<D>({"NativeRA", "RoutingActivationType"}, &D::NativeRA),
    Flag<D>({"DoRA", "DoRoutingActivation"}, &D::DoRA),
    Flag<D>({"UseRaEntity", "UseRaEntityAddress"}, &D::UseRaEntity),
    Number<D>({"EthSwitchIoctlTimeoutMs"}, &D::EthSwitchIoctlTimeoutMs),
    Number<D>({"DoIPProtocolVersion"}, &D::DoIPProtocolVersion),
    Number<D>({"DoIPIpVersion"}, &D::DoIPIpVersion),
    Number<D>({"SingleClickState"}, &D::SingleClickState),
};

const KeyRule<ISOTP> kIsotpKeys[] = {
    Flag<ISOTP>({"EnableComParams", "ComParams", "SetIds"}, &C::ISOTP::EnableComParams),
    Flag<ISOTP>({"FallbackToRawCan", "FallbackRawCan"}, &C::ISOTP::FallbackToRawCan),
    Flag<ISOTP>({"FallbackCanIdInData", "ForceCanIdInData", "CanIdInDataFallback"},
                   &C::ISOTP::FallbackCanIdInData),
};

// [ISO15765] also takes the [ISOTP] keys.
const KeyRule<ISO15765> kIso15765Keys[] = {
    Rule<ISO15765>({"PayloadPolicy", "PayloadMode"},
                      [](ConfigLoad& l, const std::string& v) {
                          const std::string u = UpperAscii(v);
                          if (u.find("UDS") != std::string::npos || u.find("APDU") != std::string::npos)
                              l.c.UdsApduOnly = true;
                          else if (u.find("ISOTP") != std::string::npos || u.find("ISO-TP") != std::string::npos)
                              l.c.UdsApduOnly = false;
                          l.c.UdsApduOnlyExplicit = true;
                      }),
    Rule<ISO15765>({"UdsApduOnly", "StripIsoTpPci"},
                      [](ConfigLoad& l, const std::string& v) {
                          l.c.UdsApduOnly = ParseBool(v);
                          l.c.UdsApduOnlyExplicit = true;
                      }),
    Flag<ISO15765>({"AssumeCanIdPrefix", "AssumeCanIdInData"}, &C::ISO15765::AssumeCanIdPrefix),
};

const KeyRule<DeviceFilter> kDeviceFilterKeys[] = {
    // A named variant keeps its own module-name pattern.
    Rule<DeviceFilter>({"DeviceName", "IncludeModule", "IncludeDevice", "IncludedDevice"},
                          [](ConfigLoad& l, const std::string& v) {
                              if (l.c.BackendVariant.empty()) l.c.DeviceFilter.DeviceName = v;
                          }),
    Text<DeviceFilter>({"VendorName", "IncludeVendor"}, &C::DeviceFilter::VendorName),
    Text<DeviceFilter>({"SerialNumber"}, &C::DeviceFilter::SerialNumber),
};

// [Backend] also names the vendor library, as [DpduSettings] does.
const KeyRule<DpduSettings> kBackendKeys[] = {
    Rule<DpduSettings>({"Type", "BackendType"},
                          [](ConfigLoad& l, const std::string& v) {
                              l.c.BackendTypeSet = true;
                              if (ApplyBackendType(l.c, v)) return;
                              l.c.BackendTypeSet = false;
                              l.Fatal("Dpdu_Init: ERROR: Backend type in INI is invalid. Allowed: Orvex / TRX4820 / "
                                      "TVN");
                          }),
    Text<DpduSettings>({"DpduDll", "DllName"}, &C::DpduSettings::DllName),
    Text<DpduSettings>({"DpduDllPath", "DllPath"}, &C::DpduSettings::DllPath),
};

using R = decltype(C::ResourceIds);
const KeyRule<R> kResourceIdKeys[] = {
    Number<R>({"CanHS", "CAN"}, &R::CanHS),
    Number<R>({"CanRawHS", "CANRAW"}, &R::CanRawHS),
    Number<R>({"CanFdHS", "CANFD", "CANFDHS"}, &R::CanFdHS),
    Number<R>({"Iso15765FdHS", "ISO15765FD", "ISO15765FDHS"}, &R::Iso15765FdHS),
    Number<R>({"KLine", "ISO9141"}, &R::KLine),
    Number<R>({"DoIP", "ETH"}, &R::DoIP),
    Number<R>({"KwpOnCanHS", "KwpOnCan", "KwpCan", "Kwp2000Can"}, &R::KwpOnCanHS),
    Number<R>({"CanLS", "CANLS"}, &R::CanLS),
    Number<R>({"CanRawLS", "CANRAWLS"}, &R::CanRawLS),
    Number<R>({"CanFdLS", "CANFDLS"}, &R::CanFdLS),
    Number<R>({"Iso15765FdLS", "ISO15765FDLS"}, &R::Iso15765FdLS),
    Number<R>({"KwpOnCanLS", "KwpOnCan2", "Kwp2000Can2"}, &R::KwpOnCanLS),
};

const KeyRule<CanFd> kCanFdKeys[] = {
    Flag<CanFd>({"Enable", "Enabled", "Support", "Supported"}, &C::CanFd::Enable),
    Number<CanFd>({"DataBaud", "BaudrateFD", "DataRate"}, &C::CanFd::DataBaud),
    // A length of 0 switches the ComParam off.
    Rule<CanFd>({"TxMaxDataLength", "MaxLen", "Dlc"},
                   [](ConfigLoad& l, const std::string& v) {
                       auto& s = l.c.CanFd;
                       if (ParseUint(v, &s.TxMaxDataLength) && s.TxMaxDataLength == 0) s.EnableTxMaxLen = false;
                   }),
    Flag<CanFd>({"EnableTxMaxLen", "SetTxMaxLen", "TxMaxLenEnabled"}, &C::CanFd::EnableTxMaxLen),
    Flag<CanFd>({"PreferIso15765Resource", "PreferIso15765", "PreferUdsResource"},
                   &C::CanFd::PreferIso15765Resource),
};

const KeyRule<J2534> kJ2534Keys[] = {
    Flag<J2534>({"WriteUsesSendRecv", "SendAsSendRecv"}, &C::J2534::WriteUsesSendRecv),
};

// ---- Sections to their rules ---------------------------------------------------------------

using SectionHandler = void (*)(ConfigLoad&, const std::string&, const std::string&);

template <auto Field, const auto& Rules>
void Section(ConfigLoad& l, const std::string& k, const std::string& v) {
    ApplyRules(Rules, l, l.c.*Field, k, v);
}

void PcmflashSection(ConfigLoad& l, const std::string& k, const std::string& v) {
    if (ApplyRules(kPcmflashKeys, l, l.c.PCMflash, k, v) || !l.c.PCMflash.PCMflashEnabled) return;
    ApplyRules(kPcmflashEnabledKeys, l, l.c.PCMflash, k, v);
}

void Iso15765Section(ConfigLoad& l, const std::string& k, const std::string& v) {
    if (!ApplyRules(kIso15765Keys, l, l.c.ISO15765, k, v)) ApplyRules(kIsotpKeys, l, l.c.ISOTP, k, v);
}

SectionHandler FindSection(const std::string& s) {
    struct Entry {
        const char* name;
        const char* alias;
        SectionHandler handler;
    };
    static const Entry kSections[] = {
        {"BatteryConfig", "Battery", &Section<&C::BatteryConfig, kBatteryKeys>},
        {"Logging", nullptr, &Section<&C::Logging, kLoggingKeys>},
        {"Capture", nullptr, &Section<&C::Capture, kCaptureKeys>},
        {"General", nullptr, &Section<&C::General, kGeneralKeys>},
        {"Profile", nullptr, &Section<&C::Profile, kProfileKeys>},
        {"DAS", nullptr, &Section<&C::DAS, kDasKeys>},
        {"PCMflash", nullptr, &PcmflashSection},
        {"Odis", nullptr, &Section<&C::Odis, kOdisKeys>},
        {"Xentry", nullptr, &Section<&C::Xentry, kXentryKeys>},
        {"Piwis", nullptr, &Section<&C::Piwis, kPiwisKeys>},
        {"Ignition", nullptr, &Section<&C::Ignition, kIgnitionKeys>},
        {"Bench", "BenchMode", &Section<&C::Bench, kBenchKeys>},
        {"DpduSettings", nullptr, &Section<&C::DpduSettings, kDpduSettingsKeys>},
        {"DoIP", nullptr, &Section<&C::DoIP, kDoipKeys>},
        {"ISO15765", nullptr, &Iso15765Section},
        {"DeviceFilter", nullptr, &Section<&C::DeviceFilter, kDeviceFilterKeys>},
        {"Backend", nullptr, &Section<&C::DpduSettings, kBackendKeys>},
        {"ResourceIds", nullptr, &Section<&C::ResourceIds, kResourceIdKeys>},
        {"CanFd", nullptr, &Section<&C::CanFd, kCanFdKeys>},
        {"ISOTP", nullptr, &Section<&C::ISOTP, kIsotpKeys>},
        {"J2534", "Transport", &Section<&C::J2534, kJ2534Keys>},
    };
    for (const Entry& e : kSections)
        if (EqualsNoCase(s, e.name) || (e.alias && EqualsNoCase(s, e.alias))) return e.handler;
    return nullptr;
}

}  // namespace

void ApplyConfigKey(ConfigLoad& load, const std::string& section, const std::string& key, const std::string& value) {
    if (SectionHandler handler = FindSection(section)) handler(load, key, value);
}
