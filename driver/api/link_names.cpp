#include "driver/api/link_names.h"

#include <cctype>

#include "common/j2534.h"
#include "driver/config/driver_config.h"
#include "driver/config/session_profile.h"
#include "platform/platform.h"

namespace {
std::string TrimBlanks(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string ProtocolKey(uint32_t protocolId, const SessionProfile& session) {
    if (protocolId == j2534::ISO15765 && IsPcmflashCompatActive(session) && session.PCMflash.UseKwpOnCan &&
        !session.DasProfile)
        return "KWP2000CAN";
    switch (protocolId) {
        case j2534::J1850VPW: return "J1850_VPW";
        case j2534::J1850PWM: return "J1850_PWM";
        case j2534::ISO9141: return "ISO9141";
        case j2534::ISO14230: return "KWP2000";
        case j2534::CAN: return "CAN";
        case j2534::ISO15765:
        case 8: return "ISO15765";
        case j2534::ISO15765_FD_ALT:
        case j2534::ISO15765_FD: return "ISO15765FD";
        case j2534::SCI_A_TRANS:
        case j2534::CAN_FD: return "CANFD";
        case j2534::DOIP:
        case j2534::DOIP_ALT: return "DOIP";
        default: return {};
    }
}
}  // namespace

std::string DefaultLinkName(uint32_t protocolId) {
    switch (protocolId) {
        case j2534::ISO9141:
        case j2534::ISO14230: return "KLine";
        case j2534::CAN: return "CanRawHS";
        case j2534::ISO15765:
        case 8: return "ISO15765HS";
        case j2534::ISO15765_FD_ALT:
        case j2534::ISO15765_FD: return "ISO15765FD";
        case j2534::SCI_A_TRANS:
        case j2534::CAN_FD: return "CanFd";
        case j2534::DOIP:
        case j2534::DOIP_ALT: return "DoIP";
        default: return {};
    }
}

std::string LinkNameFor(uint32_t protocolId, uint32_t baudRate, const SessionProfile& session) {
    std::string name;
    std::string key = ProtocolKey(protocolId, session);
    if (!key.empty()) {
        std::string ini = g_config.IniPath.empty() ? std::string("Orvex_J2534.ini") : g_config.IniPath;
        std::string candidates[3] = {key + "_" + std::to_string(baudRate), std::string(), key};
        if (baudRate >= 1000 && baudRate % 1000 == 0) candidates[1] = key + "_" + std::to_string(baudRate / 1000) + "k";
        for (const std::string& k : candidates) {
            if (k.empty()) continue;
            name = TrimBlanks(platform::ProfileGetString("LogicalLinkMappings", k, "", ini, 256));
            if (!name.empty()) break;
        }
    }
    if (name.empty()) name = DefaultLinkName(protocolId);
    if (protocolId == j2534::ISO15765) {
        std::string upper;
        for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (upper.find("ISO15765") == std::string::npos && upper.find("ISOTP") == std::string::npos)
            name = "ISO15765";
    }
    return name;
}
