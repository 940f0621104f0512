#include "driver/config/variant_presets.h"

#include <cstdint>

#include "driver/config/config_values.h"
#include "driver/config/driver_config.h"

namespace {

struct BackendPreset {
    const char* variant;
    const char* displayName;
    const char* description;
    BackendType type;
    bool comParams;
    bool canFd;
    const char* library;
    uint32_t canHS, canRawHS, canFdHS, iso15765FdHS, kwpOnCanHS;
    uint32_t canLS, canRawLS, canFdLS, iso15765FdLS, kwpOnCanLS;
    uint32_t kLine, doIP;
};

const BackendPreset kOrvex = {"Orvex", "Orvex-VCI", "MIVRA Orvex J2534", BackendType::Orvex, true, true, "PDUAPI_MIVRA_J+VO_XS.dll",
                              0x300B0001, 0x300B0003, 0x300B0003, 0x300B0001, 0x300B0002,
                              0x300B0025, 0x300B0027, 0x300B0027, 0x300B0025, 0x300B0026,
                              0x300B0216, 0x30070001};
const BackendPreset kTrx4820 = {"TRX4820", "TRX4820", "MIVRA TRX4820 J2534", BackendType::TRX4820, true, true, "PDUAPI_VW.dll",
                                0x30030001, 0x30030003, 0x30030003, 0x30030001, 0x30030002,
                                0x30030025, 0x30030027, 0x30030027, 0x30030025, 0x30030026,
                                0x30030216, 0x30070001};
const BackendPreset kTvn = {"TVN", "Telvarion_W2", "MIVRA TVN J2534", BackendType::TVN, false, false, "PDUAPI_TELVARION_W2.dll",
                            0x30012001, 0x30012003, 0x30012003, 0x30012001, 0x30012002,
                            0x30012111, 0x30012113, 0x30012103, 0x30012101, 0x30012112,
                            0xFFFFFFFF, 0xFFFFFFFF};

const char* const kDefaultVendorLibrary = "PDUAPI_MIVRA_J+VO_XS.dll";

const BackendPreset* FindBackendType(const std::string& v) {
    for (const char* name : {"Orvex", "ORVEX-VCI", "ORVEX3", "MIVRA_ORVEX3", "ETH_ORVEX3"})
        if (EqualsNoCase(v, name)) return &kOrvex;
    for (const char* name : {"TRX4820", "TRX4820A"})
        if (EqualsNoCase(v, name)) return &kTrx4820;
    for (const char* name : {"TVN", "TVN_J2534", "TELVARION", "TELVARION_W2", "ETH_TELVARION"})
        if (EqualsNoCase(v, name)) return &kTvn;
    return nullptr;
}

}  // namespace

void ApplyVariantFromFileName(DriverConfig& cfg, const std::string& baseName) {
    const BackendPreset* p = &kOrvex;
    if (EqualsNoCase(baseName, "TRX4820_J2534") || baseName.find("TRX4820") != std::string::npos)
        p = &kTrx4820;
    else if (EqualsNoCase(baseName, "TVN_J2534") || baseName.compare(0, 3, "TVN") == 0)
        p = &kTvn;
    const bool trx = p == &kTrx4820;
    cfg.BackendVariant = p->variant;
    cfg.DeviceDisplayName = p->displayName;
    cfg.DeviceDescription = p->description;
    cfg.Backend = p->type;

    cfg.ISOTP.EnableComParams = !trx;
    cfg.UdsApduOnly = !trx;
    cfg.UdsApduOnlyExplicit = false;
    cfg.ISO15765.AssumeCanIdPrefix = true;
    cfg.ISOTP.FallbackToRawCan = false;
    cfg.ISOTP.FallbackCanIdInData = trx;
    cfg.DeviceFilter.DeviceName = p == &kOrvex     ? "ORVEX3-VCI|ORVEX3_VCI|ORVEX4-VCI|ORVEX4_VCI"
                                  : trx            ? "TRX4820|TRX4820A|TRX4820B"
                                                   : "Telvarion";
    cfg.DpduSettings.DllName.clear();
    cfg.DpduSettings.DllPath.clear();
    cfg.DeviceFilter.VendorName.clear();
    cfg.DeviceFilter.SerialNumber.clear();
}

bool ApplyBackendType(DriverConfig& cfg, const std::string& typeValue) {
    const BackendPreset* p = FindBackendType(typeValue);
    if (!p) return false;
    cfg.BackendTypeName = p->variant;
    cfg.DeviceDisplayName = p->displayName;
    cfg.DeviceDescription = p->description;
    cfg.Backend = p->type;
    cfg.ISOTP.EnableComParams = p->comParams;
    cfg.CanFd.Enable = p->canFd;
    if (cfg.DpduSettings.DllName.empty() || EqualsNoCase(cfg.DpduSettings.DllName, kDefaultVendorLibrary))
        cfg.DpduSettings.DllName = p->library;
    cfg.CanFd.DataBaud = 2000000;
    cfg.CanFd.TxMaxDataLength = 64;
    auto& r = cfg.ResourceIds;
    r.CanHS = p->canHS;
    r.CanRawHS = p->canRawHS;
    r.CanFdHS = p->canFdHS;
    r.Iso15765FdHS = p->iso15765FdHS;
    r.KwpOnCanHS = p->kwpOnCanHS;
    r.CanLS = p->canLS;
    r.CanRawLS = p->canRawLS;
    r.CanFdLS = p->canFdLS;
    r.Iso15765FdLS = p->iso15765FdLS;
    r.KwpOnCanLS = p->kwpOnCanLS;
    r.KLine = p->kLine;
    r.DoIP = p->doIP;
    return true;
}
