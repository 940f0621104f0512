// The library's file name picks its VCI family; [Backend] Type must agree and presets follow it.
#include <gtest/gtest.h>

#include "driver/config/variant_presets.h"
#include "tests/unit/config_load_helper.h"

TEST(ConfigVariant, FromFileName) {
    struct Case {
        const char* name;
        const char* variant;
        BackendType type;
        const char* display;
    } cases[] = {
        {"TRX4820_J2534", "TRX4820", BackendType::TRX4820, "TRX4820"},
        {"trx4820_j2534", "TRX4820", BackendType::TRX4820, "TRX4820"},
        {"My_TRX4820_copy", "TRX4820", BackendType::TRX4820, "TRX4820"},
        {"my_trx4820_copy", "Orvex", BackendType::Orvex, "Orvex-VCI"},
        {"TVN_J2534", "TVN", BackendType::TVN, "Telvarion_W2"},
        {"tvn_j2534", "TVN", BackendType::TVN, "Telvarion_W2"},
        {"TVN_other", "TVN", BackendType::TVN, "Telvarion_W2"},
        {"tvn_other", "Orvex", BackendType::Orvex, "Orvex-VCI"},
        {"My_TVN_J2534", "Orvex", BackendType::Orvex, "Orvex-VCI"},
        {"Orvex_J2534", "Orvex", BackendType::Orvex, "Orvex-VCI"},
        {"Orvex_J2534_x86", "Orvex", BackendType::Orvex, "Orvex-VCI"},
        {"anything", "Orvex", BackendType::Orvex, "Orvex-VCI"},
    };
    for (const Case& c : cases) {
        DriverConfig cfg;
        ApplyVariantFromFileName(cfg, c.name);
        EXPECT_EQ(cfg.BackendVariant, c.variant) << c.name;
        EXPECT_EQ(cfg.Backend, c.type) << c.name;
        EXPECT_EQ(cfg.DeviceDisplayName, c.display) << c.name;
    }
}

TEST(ConfigVariant, VariantDefaults) {
    DriverConfig trx, tvn, orvex;
    ApplyVariantFromFileName(trx, "TRX4820_J2534");
    ApplyVariantFromFileName(tvn, "TVN_J2534");
    ApplyVariantFromFileName(orvex, "Orvex_J2534");
    EXPECT_FALSE(trx.ISOTP.EnableComParams);
    EXPECT_FALSE(trx.UdsApduOnly);
    EXPECT_TRUE(trx.ISOTP.FallbackCanIdInData);
    EXPECT_EQ(trx.DeviceFilter.DeviceName, "TRX4820|TRX4820A|TRX4820B");
    EXPECT_EQ(trx.DeviceDescription, "MIVRA TRX4820 J2534");
    for (const DriverConfig* c : {&tvn, &orvex}) {
        EXPECT_TRUE(c->ISOTP.EnableComParams);
        EXPECT_TRUE(c->UdsApduOnly);
        EXPECT_FALSE(c->ISOTP.FallbackCanIdInData);
    }
    EXPECT_EQ(tvn.DeviceFilter.DeviceName, "Telvarion");
    EXPECT_EQ(orvex.DeviceFilter.DeviceName, "ORVEX3-VCI|ORVEX3_VCI|ORVEX4-VCI|ORVEX4_VCI");
    EXPECT_EQ(orvex.DeviceDescription, "MIVRA Orvex J2534");
}

TEST(ConfigVariant, Trx4820LibraryReadsItsOwnIniAndDefaultsItsVendorLibrary) {
    auto r = LoadConfigText("[Backend]\nType=TRX4820\n", "TRX4820_J2534");
    EXPECT_EQ(r.cfg.IniPath, JoinPath(r.dir, "TRX4820_J2534.ini"));
    EXPECT_EQ(r.cfg.DpduSettings.DllName, "PDUAPI_VW.dll");
    EXPECT_EQ(r.cfg.DpduLibraryPath, "PDUAPI_VW.dll");
    EXPECT_EQ(r.cfg.BackendTypeName, "TRX4820");
    EXPECT_FALSE(r.cfg.ConfigFatal);
    EXPECT_EQ(r.cfg.ResourceIds.CanHS, 0x30030001u);
    EXPECT_EQ(r.cfg.ResourceIds.DoIP, 0x30070001u);
}

TEST(ConfigVariant, BackendTypeOfAnotherFamilyIsFatal) {
    auto r = LoadConfigText("[Backend]\nType=Orvex\n", "TRX4820_J2534");
    EXPECT_TRUE(r.cfg.ConfigFatal);
    EXPECT_TRUE(r.Logged("Dpdu_Init: ERROR: Backend type in INI does not match DLL variant (INI=Orvex, DLL=TRX4820)"));
    // The type does not change the library's own variant.
    EXPECT_EQ(r.cfg.BackendVariant, "TRX4820");
}

TEST(ConfigVariant, BackendTypeNamesIgnoreCaseAndAliases) {
    auto r = LoadConfigText("[backend]\n  type = tvn  \n", "TVN_J2534");
    EXPECT_FALSE(r.cfg.ConfigFatal);
    EXPECT_EQ(r.cfg.BackendTypeName, "TVN");
    EXPECT_EQ(r.cfg.DpduSettings.DllName, "PDUAPI_TELVARION_W2.dll");
    EXPECT_FALSE(r.cfg.CanFd.Enable);
    EXPECT_FALSE(r.cfg.ISOTP.EnableComParams);
    EXPECT_EQ(r.cfg.ResourceIds.KLine, 0xFFFFFFFFu);
    EXPECT_EQ(r.cfg.ResourceIds.CanFdLS, 0x30012103u);

    for (const char* alias : {"ORVEX-VCI", "orvex3", "MIVRA_ORVEX3", "ETH_ORVEX3"}) {
        auto o = LoadConfigText((std::string("[Backend]\nBackendType=") + alias + "\n").c_str());
        EXPECT_FALSE(o.cfg.ConfigFatal) << alias;
        EXPECT_EQ(o.cfg.BackendTypeName, "Orvex") << alias;
        EXPECT_EQ(o.cfg.DpduSettings.DllName, "PDUAPI_MIVRA_J+VO_XS.dll") << alias;
        EXPECT_TRUE(o.cfg.CanFd.Enable) << alias;
    }
    auto a = LoadConfigText("[Backend]\nType=TRX4820A\n", "TRX4820_J2534");
    EXPECT_EQ(a.cfg.BackendTypeName, "TRX4820");
}

TEST(ConfigVariant, PresetKeepsAnExplicitVendorLibraryButReplacesTheOrvexDefault) {
    auto own = LoadConfigText("[DpduSettings]\nDllName=own.dll\nDllPath=C:\\V\\\n[Backend]\nType=TVN\n", "TVN_J2534");
    EXPECT_EQ(own.cfg.DpduSettings.DllName, "own.dll");
    // The separator is added even after a trailing one.
    EXPECT_EQ(own.cfg.DpduLibraryPath, std::string("C:\\V\\") + platform::kPathSeparator + "own.dll");
    auto dflt = LoadConfigText("[DpduSettings]\nDllName=PDUAPI_MIVRA_J+VO_XS.dll\n[Backend]\nType=TVN\n", "TVN_J2534");
    EXPECT_EQ(dflt.cfg.DpduSettings.DllName, "PDUAPI_TELVARION_W2.dll");
}
