// The process-wide configuration record, read once from the INI file next to the library and
// never written after that. Fields are named after their primary INI key, grouped by section;
// defaults are those that apply when the INI says nothing. What the host profile rules decide
// later for a session starts from here and lives in SessionProfile.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "driver/config/backend_type.h"

// The [PCMflash] switches; the PCMflash profile sets some of them for a session.
struct PcmflashSwitches {
    bool PCMflashEnabled = false;
    bool ForceRawCan = false;
    bool ForceIsoTp = false;
    bool ExclusiveDevice = false;
    bool UseKwpOnCan = false;
    bool FallbackToIso15765 = true;
    bool AllowKLine = false;
    bool UseSendRecvIso15765 = false;
    bool UseSendRecvIso15765FD = false;
    bool TryIso15765ComParams = true;
    bool InstallIso15765ResponseFilters = false;
    bool ForceUnloadOnClose = false;
};

struct DriverConfig {
    struct BatteryConfig {
        bool AlwaysOverride = false;
        uint32_t DefaultMilliVolts = 12500;
        uint32_t MinValid = 9000;
        uint32_t MaxValid = 18000;
        bool ClampToValid = false;
    } BatteryConfig;

    struct Logging {
        bool ExposeResourceId = false;
        bool LogEnabled = true;
        std::string LogPath;
        std::string LogFile;
    } Logging;

    // A capture of the traffic in pcapng; also switched on by the environment (ORVEX_CAPTURE).
    struct Capture {
        bool Enabled = false;
        std::string File;  // empty: Logs\<module base name>.pcapng beside the library
        uint32_t MaxSizeKB = 65536;
        uint32_t Keep = 5;
    } Capture;

    struct General {
        bool EnableInstanceLock = true;
    } General;

    struct Profile {
        // [Profile] Mode is applied to the profile flags below; NoEcuMode is Bench.NoEcuMode.
    } Profile;

    struct DAS {
        bool ForcePhysical = false;
        std::string DasPath = "das32r3.exe";
        bool RewriteFunctional7DF = true;
        bool TryIso15765ComParams = false;
        bool DisablePayloadOnlyFallback = false;
        bool DropOtherIsoTpRx = false;
        bool InjectTesterPresent = true;
        bool InjectSessionStart = true;
        uint32_t InjectDelayMs = 25;
    } DAS;

    struct PCMflash : PcmflashSwitches {
        std::string PcmflashPath;
    } PCMflash;

    struct Odis {
        bool UseSendRecvIso15765 = false;
        std::string OdisPath = "PduProtocolLayer.J2534.exe";
    } Odis;

    struct Xentry {
        bool UseSendRecvIso15765 = true;
        std::string XentryPath = "PassThruWrapper32.exe";
        bool TryIso15765ComParams = true;
        bool InstallIso15765ResponseFilters = true;
        bool ExclusiveDevice = true;
        bool ForceUnloadOnClose = true;
    } Xentry;

    struct Piwis {
        std::string PiwisPath;
    } Piwis;

    struct Ignition {
        bool EnableOverride = false;
        bool IgnitionState = true;
        bool LauncherEnabled = false;
        std::string IgnitionExePath;
        std::string StateFile;
    } Ignition;

    struct Bench {
        bool BenchEnabled = false;
        bool NoEcuMode = false;
        uint32_t NoEcuTimeoutMs = 200;
    } Bench;

    struct DpduSettings {
        std::string DllName;
        std::string DllPath;
        bool ResourceIdProbe = false;  // alias ExposeResourceIds
        uint32_t ModuleProbeQuickAttempts = 6;
        uint32_t ModuleProbeQuickDelayMs = 150;
        uint32_t ModuleProbeSlowAttempts = 10;
        uint32_t ModuleProbeSlowDelayMs = 350;
        uint32_t ModuleProbeReinitAttempts = 8;
        uint32_t ModuleProbeReinitDelayMs = 350;
        bool CanFdAllowAltRawFallback = false;
        bool CanFdAllowRidUndefFallback = false;
    } DpduSettings;

    struct DoIP {
        bool AllowEmptyResourceList = false;
        bool Fallback = false;
        bool AllowMissingResourceList = false;
        bool SkipEthSwitchIoctl = false;
        uint32_t VehicleDiscoveryTimeMs = 2000;
        uint32_t VehicleDiscoveryCombinationMode = 2;
        uint32_t EthSwitchDelayMs = 5000;
        uint32_t SwitchSettleMs = 400;
        uint32_t SwitchRetries = 2;
        uint32_t SwitchRetryDelayMs = 250;
        bool EthSwitchToggle = true;
        bool UseRscDataFallback = true;
        bool UseRidUndefFallback = false;
        bool UseRscDataWithResourceId = false;
        std::string DiscoveryAddress = "255.255.255.255";
        std::string TargetIp;
        std::string BindIp;
        uint32_t TargetPort = 13400;
        bool Discovery = true;
        bool SkipVehicleIdRequest = false;
        bool AllowCreateAltRetry = true;
        std::string DoipModuleHint;
        bool LegacyFlow = false;
        bool SwitchFirst = true;
        bool DirectDoIP = false;
        bool DirectDoIPFallback = false;
        bool AllowEthSwitchFailure = false;
        bool NativeDoIP = false;
        bool FallbackEnabled = false;
        std::string DiscoveryBroadcast;
        std::string DiscoveryUnicast;
        uint32_t DiscoveryTimeoutMs = 2000;
        std::string NativeTargetIp;
        std::string NativeBindIp;
        uint32_t NativeTargetPort = 13400;
        uint32_t NativeSrc = 0x0E80;
        uint32_t NativeDst = 0x0E00;
        uint32_t NativeRA = 0;
        bool DoRA = true;
        bool UseRaEntity = false;
        uint32_t EthSwitchIoctlTimeoutMs = 2000;
        uint32_t DoIPProtocolVersion = 2;
        uint32_t DoIPIpVersion = 4;
        uint32_t SingleClickState = 0;
    } DoIP;

    struct ISO15765 {
        bool AssumeCanIdPrefix = true;
    } ISO15765;

    struct DeviceFilter {
        std::string DeviceName;  // the module-name pattern of the variant unless overridden
        std::string VendorName;
        std::string SerialNumber;
    } DeviceFilter;

    struct ResourceIds {
        uint32_t CanHS = 0x300C0001;
        uint32_t CanRawHS = 0x300C0003;
        uint32_t CanFdHS = 0;
        uint32_t Iso15765FdHS = 0;
        uint32_t KLine = 0x300C0215;
        uint32_t DoIP = 0x300B0203;
        uint32_t KwpOnCanHS = 0;
        uint32_t CanLS = 0;
        uint32_t CanRawLS = 0;
        uint32_t CanFdLS = 0;
        uint32_t Iso15765FdLS = 0;
        uint32_t KwpOnCanLS = 0;
    } ResourceIds;

    struct CanFd {
        bool Enable = false;
        uint32_t DataBaud = 2000000;
        uint32_t TxMaxDataLength = 64;
        bool EnableTxMaxLen = true;
        bool PreferIso15765Resource = false;
    } CanFd;

    struct ISOTP {
        bool EnableComParams = true;
        bool FallbackToRawCan = false;
        bool FallbackCanIdInData = false;
    } ISOTP;

    struct J2534 {
        bool WriteUsesSendRecv = true;
    } J2534;

    // ---- Derived and profile fields -----------------------------------------------------
    bool ConfigFatal = false;
    std::string BackendVariant;        // "Orvex", "TRX4820" or "TVN" (from the file name)
    BackendType Backend = BackendType::Orvex;  // the family BackendVariant names
    std::string DeviceDisplayName;
    std::string DeviceDescription;
    std::string DriverVersion;
    std::string ApiVersion;
    bool BackendTypeSet = false;
    std::string BackendTypeName;
    std::string IniPath;
    std::string DpduLibraryPath;
    bool KeepToolkitLoaded = false;

    bool ProfileExplicit = false;
    bool DasProfile = false;
    bool XentryProfile = false;
    bool OdisProfile = false;
    bool PiwisProfile = false;
    bool PcmflashProfile = false;

    bool UdsApduOnly = true;
    bool UdsApduOnlyExplicit = false;
    bool BenchExplicit = false;
    bool NoEcuExplicit = false;
    enum class DoipModeKind : uint32_t { Auto = 0, Direct = 1, Backend = 2 } DoipMode = DoipModeKind::Auto;
    bool FallbackExplicit = false;
    std::vector<std::pair<uint32_t, uint32_t>> DasIdPairs;  // (tx, rx)
    std::vector<uint32_t> AltResourceIds;
    bool IgnitionOn = true;  // as loaded; the state reported to hosts is the bench module's
    uint32_t FakeVBattMilliVolts = 0;
    std::string LogFilePath;
    bool CaptureEnabledExplicit = false;  // [Capture] Enabled was given: the environment does not decide
    std::string CaptureFilePath;          // the capture file, resolved like the log
};

extern DriverConfig g_config;

// One load for the library at modulePath (empty when unknown): fills a fresh record and appends
// the load's log lines to heldLines in order, for the caller to write once the log path is known.
// The driver loads once per process (LoadDriverConfig) and publishes the record as g_config.
void LoadDriverConfigFrom(const std::string& modulePath, DriverConfig* cfg, std::vector<std::string>* heldLines);
