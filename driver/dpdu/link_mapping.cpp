#include "driver/dpdu/link_mapping.h"

#include <cctype>

#include "driver/config/driver_config.h"
#include "driver/log/log.h"

namespace {

bool Has(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

void Mapped(const char* what) { LogPrintf("Dpdu_OpenLink: mapped logicalLinkName -> %s resourceId from INI", what); }

// Low-speed CAN mapping; 0 when even the raw low-speed id is missing.
uint32_t MapLowSpeed(const LinkKind& k) {
    const auto& r = g_config.ResourceIds;
    const bool fdIso = k.iso15765Fd || (k.canFd && g_config.CanFd.PreferIso15765Resource);
    if (k.kwpOnCan && ResourceIdConfigured(r.KwpOnCanLS)) {
        Mapped("KWP2000 over CAN2 (LS)");
        return r.KwpOnCanLS;
    }
    if (fdIso && ResourceIdConfigured(r.Iso15765FdLS)) {
        Mapped("ISO15765-FD CAN2 (LS)");
        return r.Iso15765FdLS;
    }
    if (k.canFd && ResourceIdConfigured(r.CanFdLS)) {
        Mapped("CAN-FD CAN2 (LS)");
        return r.CanFdLS;
    }
    if (k.iso15765 && ResourceIdConfigured(r.CanLS)) {
        Mapped("ISO15765(UDS) CAN2 (LS)");
        return r.CanLS;
    }
    if (ResourceIdConfigured(r.CanRawLS)) {
        Mapped("RAWCAN CAN2 (LS)");
        return r.CanRawLS;
    }
    return 0;
}

uint32_t MapHighSpeed(const LinkKind& k) {
    const auto& r = g_config.ResourceIds;
    const bool fdIso = k.iso15765Fd || (k.canFd && g_config.CanFd.PreferIso15765Resource);
    if (fdIso && ResourceIdConfigured(r.Iso15765FdHS)) {
        Mapped("ISO15765-FD");
        return r.Iso15765FdHS;
    }
    if (k.canFd && ResourceIdConfigured(r.CanFdHS)) {
        Mapped("CAN-FD");
        return r.CanFdHS;
    }
    if (k.kwpOnCan && ResourceIdConfigured(r.KwpOnCanHS)) {
        Mapped("KWP2000 over CAN");
        return r.KwpOnCanHS;
    }
    if (k.iso15765 && ResourceIdConfigured(r.CanHS)) {
        Mapped("ISO15765(UDS)");
        return r.CanHS;
    }
    Mapped("RAWCAN");
    return r.CanRawHS != 0 ? r.CanRawHS : r.CanHS;
}

}  // namespace

bool ResourceIdConfigured(uint32_t id) { return id != 0 && id != 0xFFFFFFFFu; }

LinkKind ClassifyLinkName(const std::string& name) {
    std::string n;
    for (char c : name)
        if (!std::isspace(static_cast<unsigned char>(c))) n += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    LinkKind k;
    k.ls = Has(n, "LS") || Has(n, "CAN2");
    k.iso15765 = Has(n, "ISO15765") || Has(n, "ISOTP");
    k.iso15765Fd = Has(n, "ISO15765FD") || Has(n, "15765FD");
    k.canFd = Has(n, "CANFD") || k.iso15765Fd;
    k.can = Has(n, "CAN") || k.iso15765 || k.canFd;
    k.kwpInName = Has(n, "KWP");
    k.kwpOnCan = k.kwpInName && k.can;
    k.kLine = Has(n, "ISO9141") || k.kwpInName || Has(n, "KLINE");
    k.doip = Has(n, "DOIP") || Has(n, "ETH");
    return k;
}

bool MapResourceId(const LinkKind& k, const std::string& name, uint32_t* resourceId, std::string* error) {
    const auto& r = g_config.ResourceIds;
    uint32_t id = 0;
    if (k.doip) {
        if (!ResourceIdConfigured(r.DoIP)) {
            *error = "Dpdu_OpenLink: DoIP not supported (no valid ResourceId)";
            return false;
        }
        Mapped("DOIP");
        id = r.DoIP;
    } else if (k.can) {
        bool lowSpeed = false;
        if (k.ls) {
            id = MapLowSpeed(k);
            lowSpeed = id != 0;
            if (!lowSpeed)
                WriteLogLine("Dpdu_OpenLink: NOTE: CAN2 (LS) resourceId not configured; using CAN1 (HS) mapping");
        }
        if (!lowSpeed) id = MapHighSpeed(k);
        if (k.canFd) {
            const uint32_t fdId = k.iso15765Fd ? (lowSpeed ? r.Iso15765FdLS : r.Iso15765FdHS)
                                               : (lowSpeed ? r.CanFdLS : r.CanFdHS);
            if (fdId == 0) WriteLogLine("Dpdu_OpenLink: NOTE: CAN-FD resourceId not configured; using non-FD resource");
        }
    } else if (k.kLine) {
        if (!ResourceIdConfigured(r.KLine)) {
            *error = "Dpdu_OpenLink: K-Line not supported (no valid ResourceId)";
            return false;
        }
        WriteLogLine("Dpdu_OpenLink: mapped logicalLinkName -> K-Line resourceId from INI");
        id = r.KLine;
    }
    if (id == 0) {
        *error = "Dpdu_OpenLink: no ResourceId mapping for logicalLinkName='" + name +
                 "'. Fix: ensure GetLogicalLinkName() returns protocol hints (CAN/ISO15765/ISO9141/KWP/DOIP) or set "
                 "[ResourceIds] in Orvex_J2534.ini.";
        return false;
    }
    *resourceId = id;
    return true;
}
