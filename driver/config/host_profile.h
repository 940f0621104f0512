// Which application has loaded the driver, and the profile of adjusted behaviour it gets: the
// rules that turn the configuration and the host's path into the session's profile.
#pragma once

#include <cstdint>
#include <string>

#include "driver/config/session_profile.h"

// A configured host path or executable name against the host executable's full path:
// containment, equal file names, or an extension-less name contained in the host's file name.
bool HostPathMatches(const std::string& configured, const std::string& hostPath);

// The PCMflash profile and the settings it forces, on the configuration as it loads ([Profile]
// Mode=PCMFLASH) or on a session whose host was found to be PCMflash.
template <typename Record>
void ApplyPcmflashProfile(Record& r) {
    r.PcmflashProfile = true;
    r.PCMflash.PCMflashEnabled = true;
    r.PCMflash.UseSendRecvIso15765 = true;
    r.PCMflash.UseSendRecvIso15765FD = true;
    r.PCMflash.TryIso15765ComParams = true;
    r.PCMflash.InstallIso15765ResponseFilters = true;
    r.PCMflash.ForceUnloadOnClose = true;
    r.PCMflash.UseKwpOnCan = true;
    r.UdsApduOnly = false;
    r.UdsApduOnlyExplicit = true;
}

// Host executable path contains "pcmflash"; computed once per process.
bool IsPcmflashHost();

// The profile from the host path (unless one is explicit) and the OEM family.
void DetectHostProfile(const DriverConfig& config, const std::string& hostPath, bool pcmflashHost,
                       SessionProfile& session);
// Settings each profile forces when a device is opened.
void ApplyOpenProfileRules(const DriverConfig& config, bool pcmflashHost, SessionProfile& session);

// First [DAS] Pairs entry, or 0x7E0 / 0x7E8 when there is none.
uint32_t DasFirstTxId();
uint32_t DasFirstRxId();
