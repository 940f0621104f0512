// What the host profile rules decide for a session, on top of the configuration as loaded: the
// profile in force, the OEM family, and the settings a profile changes. The J2534 layer keeps one
// record, starts it from the configuration when the library loads, lets PassThruOpen (and a
// connect or FAST_INIT that looks at the host again) change it under the device lock, and hands
// copies to the read and write paths. Fields carry the names of the configuration's fields they
// start from.
#pragma once

#include <cstdint>

#include "driver/config/driver_config.h"

// The vehicle-maker family the driver serves; reported at PassThruOpen.
enum class OemKind : uint32_t { Unset = 0, Generic = 1, VwOdis = 2, MbXentry = 3, Piwis = 4 };
// "Generic", "VW/ODIS", "MB/Xentry", "PIWIS"; empty for Unset.
const char* OemKindName(OemKind kind);

struct SessionProfile {
    bool ProfileExplicit = false;
    bool DasProfile = false;
    bool XentryProfile = false;
    bool OdisProfile = false;
    bool PiwisProfile = false;
    bool PcmflashProfile = false;
    bool PcmflashHostDetected = false;
    bool UdsApduOnly = true;
    bool UdsApduOnlyExplicit = false;
    bool KeepToolkitLoaded = false;
    bool WriteUsesSendRecv = true;  // [J2534] WriteUsesSendRecv
    bool NoEcuMode = false;         // [Bench] NoEcuMode
    PcmflashSwitches PCMflash;
    OemKind Oem = OemKind::Generic;
};

// The session as the loaded configuration starts it.
SessionProfile SessionFromConfig(const DriverConfig& config);

// [PCMflash] PCMflashEnabled together with a PCMflash host or the PCMflash profile.
bool IsPcmflashCompatActive(const SessionProfile& session);
