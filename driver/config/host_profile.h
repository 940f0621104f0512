// Which application has loaded the driver, and the profile of adjusted behaviour it gets.
#pragma once

#include <cstdint>
#include <string>

struct DriverConfig;

// The vehicle-maker family the driver serves; reported at PassThruOpen.
enum class OemKind : uint32_t { Unset = 0, Generic = 1, VwOdis = 2, MbXentry = 3, Piwis = 4 };
// "Generic", "VW/ODIS", "MB/Xentry", "PIWIS"; empty for Unset.
const char* OemKindName(OemKind kind);
// Process-wide; starts Generic.
extern OemKind g_oemKind;

// A configured host path or executable name against the host executable's full path:
// containment, equal file names, or an extension-less name contained in the host's file name.
bool HostPathMatches(const std::string& configured, const std::string& hostPath);

// Sets the PCMflash profile and the settings it forces.
void ApplyPcmflashProfile(DriverConfig& cfg);

// Host executable path contains "pcmflash"; computed once per process.
bool IsPcmflashHost();
// [PCMflash] PCMflashEnabled together with a PCMflash host or the PCMflash profile.
bool IsPcmflashCompatActive();

// Profile from the host path (unless one is explicit) and the OEM family, on g_config.
void DetectHostProfile();
// The same with the host path and the PCMflash host test given, for callers that know them.
void DetectHostProfileFor(const std::string& hostPath, bool pcmflashHost);

// Settings each profile forces when a device is opened.
void ApplyOpenProfileRules();
void ApplyOpenProfileRulesFor(bool pcmflashHost);

// XENTRY profile: replaces implausible ISO 15765 transmit and receive identifiers.
void FixXentryIso15765Ids(uint32_t& txId, uint32_t& rxId);

// First [DAS] Pairs entry, or 0x7E0 / 0x7E8 when there is none.
uint32_t DasFirstTxId();
uint32_t DasFirstRxId();
