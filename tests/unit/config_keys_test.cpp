// Keys of the INI: aliases, case, types as used by the loader, and the order lines take effect.
#include <gtest/gtest.h>

#include "tests/unit/config_load_helper.h"

TEST(ConfigKeys, SectionAndKeyNamesIgnoreCaseAndAliasesWork) {
    auto r = LoadOrvexWith(
        "[BATTERY]\nvolts=13.8V\n[transport]\nSendAsSendRecv=0\n[benchmode]\nNOECU=yes\nNoEcuTimeout=0x1F4\n"
        "[dpdusettings]\nexposeresourceids=on\n[DoIP]\nBypassPduApi=1\nIdPairs=1\n[das]\nidpairs=0x7E1/0x7E9\n");
    EXPECT_EQ(r.cfg.BatteryConfig.DefaultMilliVolts, 13800u);
    EXPECT_FALSE(r.cfg.J2534.WriteUsesSendRecv);
    EXPECT_TRUE(r.cfg.Bench.NoEcuMode);
    EXPECT_TRUE(r.cfg.NoEcuExplicit);
    EXPECT_EQ(r.cfg.Bench.NoEcuTimeoutMs, 500u);
    EXPECT_TRUE(r.cfg.DpduSettings.ResourceIdProbe);
    EXPECT_TRUE(r.cfg.DoIP.DirectDoIP);
    ASSERT_EQ(r.cfg.DasIdPairs.size(), 1u);
    EXPECT_EQ(r.cfg.DasIdPairs[0].second, 0x7E9u);
}

TEST(ConfigKeys, BoolFlavoursPerKey) {
    // LogEnabled reads a number ("yes" is 0); AlwaysOverride reads a bool; EnableInstanceLock only 1/true.
    auto r = LoadOrvexWith("[Logging]\nLogEnabled=yes\n[BatteryConfig]\nAlwaysOverride=yes\n[General]\nEnableInstanceLock=on\n");
    EXPECT_FALSE(r.cfg.Logging.LogEnabled);
    EXPECT_TRUE(r.cfg.BatteryConfig.AlwaysOverride);
    EXPECT_FALSE(r.cfg.General.EnableInstanceLock);
    auto t = LoadOrvexWith("[Logging]\nLogEnabled=0 ; off\nLogEnabled=2\n[General]\nEnableInstanceLock=TRUE\n[Bench]\nBenchEnabled=1 ; on\n");
    EXPECT_TRUE(t.cfg.Logging.LogEnabled);
    EXPECT_TRUE(t.cfg.General.EnableInstanceLock);
    EXPECT_FALSE(t.cfg.Bench.BenchEnabled);  // the comment is part of the value
    EXPECT_TRUE(t.cfg.BenchExplicit);
    auto c = LoadOrvexWith("; [Logging]\n[Logging]\n; LogEnabled=0\n# x\n");
    EXPECT_TRUE(c.cfg.Logging.LogEnabled);
}

TEST(ConfigKeys, NumbersKeepPreviousValueWhenUnreadable) {
    auto r = LoadOrvexWith(
        "[DpduSettings]\nModuleProbeQuickAttempts=0x10\nModuleProbeSlowAttempts=010\nModuleProbeReinitAttempts=abc\n"
        "ModuleProbeQuickDelayMs=\n[BatteryConfig]\nDefaultMilliVolts=-5\nMinValid=x\nMaxValid=-1\n");
    EXPECT_EQ(r.cfg.DpduSettings.ModuleProbeQuickAttempts, 16u);
    EXPECT_EQ(r.cfg.DpduSettings.ModuleProbeSlowAttempts, 8u);
    EXPECT_EQ(r.cfg.DpduSettings.ModuleProbeReinitAttempts, 8u);
    EXPECT_EQ(r.cfg.DpduSettings.ModuleProbeQuickDelayMs, 150u);
    EXPECT_EQ(r.cfg.BatteryConfig.DefaultMilliVolts, 12500u);
    EXPECT_EQ(r.cfg.BatteryConfig.MinValid, 0u);  // no number gives 0
    EXPECT_EQ(r.cfg.BatteryConfig.MaxValid, 0xFFFFFFFFu);
    for (auto v : {std::make_pair("12.6V", 12600u), std::make_pair("13", 13000u), std::make_pair("12600", 12600u),
                   std::make_pair("0", 12500u)}) {
        auto m = LoadOrvexWith(std::string("[BatteryConfig]\nDefaultMilliVolts=") + v.first + "\n");
        EXPECT_EQ(m.cfg.BatteryConfig.DefaultMilliVolts, v.second) << v.first;
    }
}

TEST(ConfigKeys, LaterLinesWinAndUnknownKeysAreIgnored) {
    auto r = LoadOrvexWith("[CanFd]\nDataBaud=1000000\nDataRate=500000\nNoSuchKey=1\n[NoSuchSection]\nDataBaud=1\n");
    EXPECT_EQ(r.cfg.CanFd.DataBaud, 500000u);
    EXPECT_FALSE(r.cfg.ConfigFatal);
}

TEST(ConfigKeys, ResourceIdsBeforeBackendTypeAreOverwritten) {
    auto before = LoadConfigText("[ResourceIds]\nCanHS=0x1234\n[CanFd]\nDlc=8\n[Backend]\nType=Orvex\n[DpduSettings]\nDllName=v.dll\n");
    EXPECT_EQ(before.cfg.ResourceIds.CanHS, 0x300B0001u);
    EXPECT_EQ(before.cfg.CanFd.TxMaxDataLength, 64u);
    auto after = LoadOrvexWith("[ResourceIds]\nCAN=0x1234\nKwp2000Can2=7\n[CanFd]\nMaxLen=0\n");
    EXPECT_EQ(after.cfg.ResourceIds.CanHS, 0x1234u);
    EXPECT_EQ(after.cfg.ResourceIds.KwpOnCanLS, 7u);
    EXPECT_EQ(after.cfg.CanFd.TxMaxDataLength, 0u);
    EXPECT_FALSE(after.cfg.CanFd.EnableTxMaxLen);  // a length of 0 switches the setting off
}

TEST(ConfigKeys, PcmflashKeysNeedPcmflashEnabledEarlier) {
    auto before = LoadOrvexWith("[PCMflash]\nForceRawCan=1\nPcmflashPath=pcm.exe\nPCMflashEnabled=1\n");
    EXPECT_FALSE(before.cfg.PCMflash.ForceRawCan);
    EXPECT_EQ(before.cfg.PCMflash.PcmflashPath, "pcm.exe");  // not conditional
    EXPECT_TRUE(before.cfg.PCMflash.PCMflashEnabled);
    EXPECT_TRUE(before.cfg.PCMflash.UseSendRecvIso15765);
    EXPECT_TRUE(before.cfg.PCMflash.InstallIso15765ResponseFilters);
    EXPECT_TRUE(before.cfg.PCMflash.ForceUnloadOnClose);
    auto after = LoadOrvexWith("[PCMflash]\nEnable=1\nRawCan=1\nForceUnload=0\nKeepLoaded=1\n");
    EXPECT_TRUE(after.cfg.PCMflash.ForceRawCan);
    EXPECT_FALSE(after.cfg.PCMflash.ForceUnloadOnClose);
    EXPECT_TRUE(after.cfg.KeepToolkitLoaded);
    // A [Profile] Mode=PCMFLASH earlier in the file also counts.
    auto profile = LoadOrvexWith("[Profile]\nMode=pcm_flash\n[PCMflash]\nExclusive=1\n");
    EXPECT_TRUE(profile.cfg.PCMflash.ExclusiveDevice);
    EXPECT_TRUE(profile.cfg.PcmflashProfile);
    EXPECT_FALSE(profile.cfg.UdsApduOnly);
    EXPECT_TRUE(profile.cfg.UdsApduOnlyExplicit);
}

TEST(ConfigKeys, ProfileNames) {
    auto das = LoadOrvexWith("[Profile]\nMode=xentry\nName=das\n");
    EXPECT_TRUE(das.cfg.ProfileExplicit);
    EXPECT_TRUE(das.cfg.DasProfile);
    EXPECT_FALSE(das.cfg.XentryProfile);
    EXPECT_TRUE(das.Logged("Profile Mode set to DAS"));
    auto mb = LoadOrvexWith("[Profile]\nMode=MB\n");
    EXPECT_TRUE(mb.cfg.XentryProfile);
    auto vw = LoadOrvexWith("[Profile]\nMode=vw\n");
    EXPECT_TRUE(vw.cfg.OdisProfile);
    auto piwis = LoadOrvexWith("[Profile]\nMode=PIWIS\n");
    EXPECT_TRUE(piwis.cfg.PiwisProfile);
    auto generic = LoadOrvexWith("[Profile]\nMode=Generic\nMode=\nMode=DEFAULT\n");
    EXPECT_FALSE(generic.cfg.ProfileExplicit);
    auto unknown = LoadOrvexWith("[Profile]\nMode=Tech2\nNoEcu=1\n");
    EXPECT_FALSE(unknown.cfg.ProfileExplicit);
    EXPECT_TRUE(unknown.Logged("Profile Mode ignored (unknown): Tech2"));
    EXPECT_TRUE(unknown.cfg.Bench.NoEcuMode);
    auto huge = LoadOrvexWith("[Profile]\nMode=" + std::string(10000, 'q') + "\n");
    EXPECT_TRUE(huge.Logged("Profile Mode ignored (unknown): " + std::string(4095 - 32, 'q')));
}

TEST(ConfigKeys, HostPathsIgnoreEmptyValuesAndDasForcePhysical) {
    auto r = LoadOrvexWith("[DAS]\nDasPath=\nForcePhysical=0\n[Xentry]\nXentryPath=  \n[Odis]\nODIS-PassThruWrapper=C:\\O\\o.exe\n");
    EXPECT_EQ(r.cfg.DAS.DasPath, "das32r3.exe");
    EXPECT_EQ(r.cfg.Xentry.XentryPath, "PassThruWrapper32.exe");
    EXPECT_EQ(r.cfg.Odis.OdisPath, "C:\\O\\o.exe");
    EXPECT_FALSE(r.cfg.DasProfile);
    auto f = LoadOrvexWith("[DAS]\nForcePhysical=1\n");
    EXPECT_TRUE(f.cfg.DasProfile);
    EXPECT_FALSE(f.cfg.ProfileExplicit);
}

TEST(ConfigKeys, PayloadPolicyAndUdsApduOnly) {
    auto uds = LoadConfigText("[Backend]\nType=TRX4820\n[ISO15765]\nPayloadPolicy=uds-apdu\n", "TRX4820_J2534");
    EXPECT_TRUE(uds.cfg.UdsApduOnly);
    EXPECT_TRUE(uds.cfg.UdsApduOnlyExplicit);
    auto isotp = LoadOrvexWith("[ISO15765]\nPayloadMode=iso-tp\n");
    EXPECT_FALSE(isotp.cfg.UdsApduOnly);
    auto other = LoadOrvexWith("[ISO15765]\nPayloadPolicy=whatever\n");
    EXPECT_TRUE(other.cfg.UdsApduOnly);  // the variant's value stays, but it is now explicit
    EXPECT_TRUE(other.cfg.UdsApduOnlyExplicit);
    auto strip = LoadOrvexWith("[ISO15765]\nStripIsoTpPci=0\nAssumeCanIdInData=0\nForceCanIdInData=1\nSetIds=0\n");
    EXPECT_FALSE(strip.cfg.UdsApduOnly);
    EXPECT_FALSE(strip.cfg.ISO15765.AssumeCanIdPrefix);
    EXPECT_TRUE(strip.cfg.ISOTP.FallbackCanIdInData);  // [ISOTP] keys in [ISO15765]
    EXPECT_FALSE(strip.cfg.ISOTP.EnableComParams);
}

TEST(ConfigKeys, DoipAddressesFillNativeOnesOnlyWhenEmpty) {
    auto r = LoadOrvexWith("[DoIP]\nNativeTargetIp=10.0.0.9\nTargetIp=10.0.0.2\nBindIp=10.0.0.1\nTargetPort=13401\n"
                           "AltResourceIds=1,2\nResourceIdList=0x10, 0\nNoFallback=0\n");
    EXPECT_EQ(r.cfg.DoIP.NativeTargetIp, "10.0.0.9");
    EXPECT_EQ(r.cfg.DoIP.TargetIp, "10.0.0.2");
    EXPECT_EQ(r.cfg.DoIP.NativeBindIp, "10.0.0.1");
    EXPECT_EQ(r.cfg.DoIP.NativeTargetPort, 13401u);
    EXPECT_EQ(r.cfg.AltResourceIds, std::vector<uint32_t>{0x10u});  // cleared by each read
    EXPECT_TRUE(r.cfg.DoIP.FallbackEnabled);
    EXPECT_TRUE(r.cfg.DoIP.DirectDoIPFallback);
}

TEST(ConfigKeys, DeviceNameStaysTheVariantPattern) {
    auto r = LoadOrvexWith("[DeviceFilter]\nDeviceName=Other\nIncludeVendor=V\nSerialNumber=42\n");
    EXPECT_EQ(r.cfg.DeviceFilter.DeviceName, "ORVEX3-VCI|ORVEX3_VCI|ORVEX4-VCI|ORVEX4_VCI");
    EXPECT_EQ(r.cfg.DeviceFilter.VendorName, "V");
    EXPECT_EQ(r.cfg.DeviceFilter.SerialNumber, "42");
}
