// What the loader decides after the lines are read: INI location, retention, DoIP mode, the
// DAS ComParam choice, fatal checks, bench and NoEcu, and the order of its log lines.
#include <gtest/gtest.h>

#include "tests/unit/config_load_helper.h"

namespace {
const char* const kNotSpecified =
    "Dpdu_Init: ERROR: Backend type not specified in INI (expected [Backend] Type=Orvex / TRX4820 / TVN)";
const char* const kInvalid = "Dpdu_Init: ERROR: Backend type in INI is invalid. Allowed: Orvex / TRX4820 / TVN";
const char* const kNoDll = "Dpdu_Init: ERROR: [DpduSettings] DllName is missing (no hardcoded fallback paths)";
}  // namespace

TEST(ConfigFatal, NoIniUsesDefaultsAndIsFatal) {
    auto r = LoadConfigText(nullptr);
    EXPECT_TRUE(r.Logged("INI not found in any known location, using defaults"));
    EXPECT_TRUE(r.Logged(kNotSpecified));
    EXPECT_TRUE(r.Logged(kNoDll));
    EXPECT_TRUE(r.cfg.ConfigFatal);
    EXPECT_EQ(r.cfg.Ignition.StateFile, JoinPath(r.dir, "Orvex_IgnitionState.txt"));
    EXPECT_EQ(r.cfg.ResourceIds.CanHS, 0x300C0001u);  // defaults before any backend type
    EXPECT_EQ(r.cfg.DpduLibraryPath, "");
}

TEST(ConfigFatal, InvalidTypeAndMissingLibrary) {
    auto r = LoadConfigText("[Backend]\nType=Tech2\n[DpduSettings]\nDllName=v.dll\n");
    EXPECT_TRUE(r.cfg.ConfigFatal);
    EXPECT_FALSE(r.cfg.BackendTypeSet);
    EXPECT_TRUE(r.Logged(kInvalid));
    EXPECT_TRUE(r.Logged(kNotSpecified));

    // A valid type after an invalid one does not clear the fatal mark.
    auto again = LoadConfigText("[Backend]\nType=\nType=Orvex\n");
    EXPECT_TRUE(again.cfg.BackendTypeSet);
    EXPECT_TRUE(again.cfg.ConfigFatal);
    EXPECT_FALSE(again.Logged(kNotSpecified));

    auto ok = LoadOrvexWith("");
    EXPECT_FALSE(ok.cfg.ConfigFatal);
    EXPECT_EQ(ok.cfg.DpduLibraryPath, "vendor.dll");
    EXPECT_EQ(ok.cfg.DriverVersion, "Z-0.2.2.6");
    EXPECT_EQ(ok.cfg.ApiVersion, "04.04");
}

TEST(ConfigLocation, IniBesideLibraryAndStateFile) {
    auto r = LoadOrvexWith("");
    const std::string ini = JoinPath(r.dir, "Orvex_J2534.ini");
    EXPECT_EQ(r.cfg.IniPath, ini);
    EXPECT_EQ(r.cfg.Ignition.StateFile, JoinPath(r.dir, "Orvex_IgnitionState.txt"));
    ASSERT_GE(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], "Loading config from INI: " + ini);
    auto s = LoadOrvexWith("[Ignition]\nSharedStateFile=D:\\s.txt\n");
    EXPECT_EQ(s.cfg.Ignition.StateFile, "D:\\s.txt");
}

TEST(ConfigLocation, UnknownModulePathReadsOrvexIniFromCurrentDirectory) {
    DriverConfig cfg;
    std::vector<std::string> lines;
    LoadDriverConfigFrom("", &cfg, &lines);
    EXPECT_EQ(cfg.BackendVariant, "Orvex");
    EXPECT_EQ(cfg.IniPath.substr(cfg.IniPath.size() - 16), std::string(1, platform::kPathSeparator) + "Orvex_J2534.ini");
    EXPECT_TRUE(platform::IsAbsolutePath(cfg.IniPath));
}

TEST(ConfigRetention, KeepLoadedWithProfileSemantics) {
    // Read with the system's profile reader, which takes the first section of a name.
    struct Case {
        const char* ini;
        bool keep;
        const char* line;
    } cases[] = {
        {"", false, "DpduSettings: KeepLoaded=0 ExitToolkitAfterSession=0 -> KeepToolkitLoaded=0"},
        {"[DpduSettings]\nKeepLoaded=1\n", true, "DpduSettings: KeepLoaded=1 ExitToolkitAfterSession=0 -> KeepToolkitLoaded=1"},
        {"[Backend]\nKeepToolkitLoaded=1\n", true, "DpduSettings: KeepLoaded=1 ExitToolkitAfterSession=0 -> KeepToolkitLoaded=1"},
        {"[DpduSettings]\nKeepLoaded=-3\n[Backend]\nKeepToolkitLoaded=1\n", true,
         "DpduSettings: KeepLoaded=1 ExitToolkitAfterSession=0 -> KeepToolkitLoaded=1"},
        {"[DpduSettings]\nKeepLoaded=0\n[Backend]\nKeepToolkitLoaded=1\n", false,
         "DpduSettings: KeepLoaded=0 ExitToolkitAfterSession=0 -> KeepToolkitLoaded=0"},
        {"[dpdusettings]\nkeeploaded = 2\nExitToolkitAfterSession=1\n", false,
         "DpduSettings: KeepLoaded=1 ExitToolkitAfterSession=1 -> KeepToolkitLoaded=0"},
    };
    for (const Case& c : cases) {
        auto r = LoadConfigText((std::string(c.ini) + "[Backend]\nType=Orvex\nDllName=v.dll\n").c_str());
        EXPECT_EQ(r.cfg.KeepToolkitLoaded, c.keep) << c.ini;
        EXPECT_TRUE(r.Logged(c.line)) << c.ini;
    }
    // The section keys read in file order overwrite the retention.
    auto odis = LoadOrvexWith("[DpduSettings]\nKeepLoaded=1\n[Odis]\nKeepLoaded=0\n");
    EXPECT_FALSE(odis.cfg.KeepToolkitLoaded);
    auto xentry = LoadOrvexWith("[Xentry]\nKeepToolkitLoaded=yes\n");
    EXPECT_TRUE(xentry.cfg.KeepToolkitLoaded);
}

TEST(ConfigDoipMode, DirectBackendAndAuto) {
    auto direct = LoadOrvexWith("[DoIP]\nNativeDoIP=1\nFallbackEnabled=1\nDirectFallback=1\nMode=direct\n");
    EXPECT_TRUE(direct.cfg.DoIP.DirectDoIP);
    EXPECT_FALSE(direct.cfg.DoIP.NativeDoIP);
    EXPECT_FALSE(direct.cfg.DoIP.FallbackEnabled);
    EXPECT_FALSE(direct.cfg.DoIP.DirectDoIPFallback);
    EXPECT_TRUE(direct.Logged("DoIP Mode=Direct (no backend fallback)"));

    auto backend = LoadOrvexWith("[DoIP]\nDirectDoIP=1\nNativeEnabled=1\nDoipMode=Backend\n");
    EXPECT_FALSE(backend.cfg.DoIP.DirectDoIP);
    EXPECT_FALSE(backend.cfg.DoIP.NativeDoIP);
    EXPECT_TRUE(backend.Logged("DoIP Mode=Backend (DirectDoIP disabled)"));

    auto autoFb = LoadOrvexWith("[DoIP]\nMode=whatever\nDirectDoIPFallback=0\nAllowFallback=1\n");
    EXPECT_EQ(autoFb.cfg.DoipMode, DriverConfig::DoipModeKind::Auto);
    EXPECT_TRUE(autoFb.cfg.DoIP.DirectDoIPFallback);
    EXPECT_TRUE(autoFb.cfg.DoIP.FallbackEnabled);
    EXPECT_TRUE(autoFb.Logged("DoIP Mode=Auto (fallback=1)"));

    auto plain = LoadOrvexWith("[DoIP]\nDirectFallback=1\n");  // no Fallback key: left alone
    EXPECT_TRUE(plain.cfg.DoIP.DirectDoIPFallback);
    EXPECT_FALSE(plain.cfg.DoIP.FallbackEnabled);
    EXPECT_TRUE(plain.Logged("DoIP Mode=Auto (fallback=1)"));
}

TEST(ConfigDasComParams, DecidedByTryIso15765ComParams) {
    auto off = LoadOrvexWith("[Profile]\nMode=DAS\n");
    EXPECT_FALSE(off.cfg.ISOTP.EnableComParams);
    EXPECT_TRUE(off.Logged("ISO15765: ComParam IDs disabled for DAS profile"));
    auto on = LoadOrvexWith("[DAS]\nForcePhysical=1\nTryComParams=1\n[ISOTP]\nComParams=0\n");
    EXPECT_TRUE(on.cfg.ISOTP.EnableComParams);
    EXPECT_TRUE(on.Logged("DAS profile: ISO15765 ComParams enabled by config"));
    auto none = LoadOrvexWith("[ISOTP]\nComParams=0\n");
    EXPECT_FALSE(none.cfg.ISOTP.EnableComParams);
    EXPECT_FALSE(none.Logged("ISO15765: ComParam IDs disabled for DAS profile"));
}

TEST(ConfigBench, BenchForcesOverridesAndClampsVoltage) {
    auto r = LoadOrvexWith("[General]\nMode=bench\n[Ignition]\nState=0\n[BatteryConfig]\nVoltage=25\n");
    EXPECT_TRUE(r.cfg.Bench.BenchEnabled);
    EXPECT_TRUE(r.cfg.BenchExplicit);
    EXPECT_TRUE(r.cfg.BatteryConfig.AlwaysOverride);
    EXPECT_TRUE(r.cfg.Ignition.EnableOverride);
    EXPECT_TRUE(r.cfg.Ignition.IgnitionState);
    EXPECT_TRUE(r.cfg.IgnitionOn);
    EXPECT_EQ(r.cfg.FakeVBattMilliVolts, 18000u);
    EXPECT_TRUE(r.Logged("Bench mode enabled: faking VBATT/ignition even when no VCI is connected"));

    auto low = LoadOrvexWith("[Bench]\nBench=1\n[Battery]\nMilliVolts=5000\n");
    EXPECT_EQ(low.cfg.FakeVBattMilliVolts, 9000u);

    auto realistic = LoadOrvexWith("[Bench]\nEnabled=1\n[General]\nMode=REALISTIC\n[Ignition]\nIgnitionState=off\n");
    EXPECT_FALSE(realistic.cfg.Bench.BenchEnabled);
    EXPECT_FALSE(realistic.cfg.BatteryConfig.AlwaysOverride);
    EXPECT_FALSE(realistic.cfg.IgnitionOn);
    EXPECT_FALSE(realistic.Logged("Bench mode enabled: faking VBATT/ignition even when no VCI is connected"));

    // [Bench] Mode takes the mode names as well as booleans.
    EXPECT_TRUE(LoadOrvexWith("[Bench]\nMode=Bench\n").cfg.Bench.BenchEnabled);
    EXPECT_TRUE(LoadOrvexWith("[BenchMode]\nMode=1\n").cfg.Bench.BenchEnabled);
    EXPECT_FALSE(LoadOrvexWith("[Bench]\nBenchEnabled=1\nMode=REALISTIC\n").cfg.Bench.BenchEnabled);
}

TEST(ConfigBench, NoEcuLine) {
    auto r = LoadOrvexWith("[Bench]\nNoECUMode=1\nNoECUTimeoutMs=350\n[BatteryConfig]\nValue=12.0\n");
    EXPECT_TRUE(r.Logged("NoEcuMode=ON (bench): clean timeouts, no fake ECU responses. Timeout=350 ms, VBatt=12000 mV"));
    EXPECT_EQ(r.cfg.FakeVBattMilliVolts, 0u);  // bench mode is off
}

TEST(ConfigHeldLines, KeptInTheOrderTheLoaderProducedThem) {
    auto r = LoadConfigText("[Profile]\nMode=Tech2\nMode=DAS\n[Bench]\nBench=1\nNoEcu=1\n");
    std::vector<std::string> expected = {
        "Loading config from INI: " + JoinPath(r.dir, "Orvex_J2534.ini"),
        "DpduSettings: KeepLoaded=0 ExitToolkitAfterSession=0 -> KeepToolkitLoaded=0",
        "Profile Mode ignored (unknown): Tech2",
        "Profile Mode set to DAS",
        "DoIP Mode=Auto (fallback=0)",
        "ISO15765: ComParam IDs disabled for DAS profile",
        kNotSpecified,
        kNoDll,
        "Bench mode enabled: faking VBATT/ignition even when no VCI is connected",
        "NoEcuMode=ON (bench): clean timeouts, no fake ECU responses. Timeout=200 ms, VBatt=12500 mV",
    };
    EXPECT_EQ(r.lines, expected);
}

TEST(ConfigLogPath, ResolvedFromLoggingKeys) {
    auto dflt = LoadOrvexWith("");
    EXPECT_EQ(dflt.cfg.LogFilePath, JoinPath(JoinPath(dflt.dir, "Logs"), "Orvex_J2534.log"));
    auto named = LoadOrvexWith("[Logging]\nLogDir=sub\nLogFile=x\\trace.log\n");
    EXPECT_EQ(named.cfg.LogFilePath, JoinPath(JoinPath(named.dir, "sub"), "trace.log"));
}
