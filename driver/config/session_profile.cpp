#include "driver/config/session_profile.h"

const char* OemKindName(OemKind kind) {
    switch (kind) {
        case OemKind::Generic: return "Generic";
        case OemKind::VwOdis: return "VW/ODIS";
        case OemKind::MbXentry: return "MB/Xentry";
        case OemKind::Piwis: return "PIWIS";
        case OemKind::Unset: break;
    }
    return "";
}

SessionProfile SessionFromConfig(const DriverConfig& c) {
    SessionProfile s;
    s.ProfileExplicit = c.ProfileExplicit;
    s.DasProfile = c.DasProfile;
    s.XentryProfile = c.XentryProfile;
    s.OdisProfile = c.OdisProfile;
    s.PiwisProfile = c.PiwisProfile;
    s.PcmflashProfile = c.PcmflashProfile;
    s.UdsApduOnly = c.UdsApduOnly;
    s.UdsApduOnlyExplicit = c.UdsApduOnlyExplicit;
    s.KeepToolkitLoaded = c.KeepToolkitLoaded;
    s.WriteUsesSendRecv = c.J2534.WriteUsesSendRecv;
    s.NoEcuMode = c.Bench.NoEcuMode;
    s.PCMflash = c.PCMflash;
    return s;
}

bool IsPcmflashCompatActive(const SessionProfile& s) {
    return s.PCMflash.PCMflashEnabled && (s.PcmflashHostDetected || s.PcmflashProfile);
}
