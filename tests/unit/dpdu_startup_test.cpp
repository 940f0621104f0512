// D-PDU binding and start-up against the simulated VCI: library candidates, construction,
// module probing and selection, module connect, shutdown and the item accounting.
#include <string>

#include "driver/dpdu/api_table.h"
#include "driver/dpdu/doip_presteps.h"
#include "driver/dpdu/module_selection.h"
#include "tests/unit/dpdu_fixture.h"

namespace {
std::string ErrorsAt(const char* function, int first, int last, const char* code) {
    std::string v;
    for (int i = first; i <= last; ++i) v += std::string(v.empty() ? "" : ",") + function + "@" + std::to_string(i) + "=" + code;
    return v;
}
}  // namespace

// ---- binding --------------------------------------------------------------------------------

TEST_F(DpduTest, CandidatePathsWithAbsoluteNameRepeatTheSamePath) {
    const std::string abs = JoinPath(TestBinDir(), "absent_pdu_api.lib");
    g_config.DpduSettings.DllName = abs;
    g_config.DpduSettings.DllPath.clear();
    g_config.DpduLibraryPath = abs;
    std::vector<std::string> c = VendorLibraryCandidates();
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0], abs);
    EXPECT_EQ(c[1], abs);
    EXPECT_EQ(c[3], abs);
    EXPECT_NE(c[2].find(abs), std::string::npos);  // the driver's folder in front of it

    UseScenario("dpdu_absent_library", "");
    g_config.DpduSettings.DllName = abs;
    g_config.DpduLibraryPath = abs;
    std::string error;
    EXPECT_FALSE(Ok(Dpdu_Init(), &error));
    EXPECT_EQ(error, "Failed to load ORVEX3 D-PDU DLL. Tried: " + c[0] + "; " + c[1] + "; " + c[2] + "; " + c[3]);
    const std::string log = Log();
    EXPECT_EQ(CountOf(log, "Dpdu_Init: Load failed for '" + abs + "'"), 3u);
    EXPECT_NE(log.find("Dpdu_Init loaded backend: FAIL (tried: "), std::string::npos);
    EXPECT_FALSE(Dpdu_IsInitialised());
}

TEST_F(DpduTest, LibraryWithoutDestructIsRejectedAndTheNextCandidateLoads) {
    UseScenario("dpdu_no_destruct", "", "VciSimNoDestruct");
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_Init(), &error)) << error;
    const std::string log = Log();
    const std::string first = g_config.DpduLibraryPath;
    EXPECT_NE(log.find("Dpdu_Init: trying D-PDU DLL '" + first + "'"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_Init: Load failed for '" + first + "'"), std::string::npos);
    // The driver's own folder comes next; the test binary's folder holds the full simulator.
    EXPECT_NE(log.find("Dpdu_Init: successfully loaded '" + JoinPath(TestBinDir(), dllName_) + "'"),
              std::string::npos);
    EXPECT_NE(log.find("Dpdu_Init loaded backend: PASS"), std::string::npos);
}

TEST_F(DpduTest, ConfigurationErrorsComeBeforeAnyLoad) {
    UseScenario("dpdu_config_errors", "");
    std::string error;
    g_config.BackendTypeSet = false;
    EXPECT_FALSE(Ok(Dpdu_Init(), &error));
    EXPECT_EQ(error, "Backend type not specified in INI (expected [Backend] Type=Orvex / TRX4820 / TVN)");
    g_config.BackendTypeSet = true;
    g_config.DpduSettings.DllName.clear();
    EXPECT_FALSE(Ok(Dpdu_Init(), &error));
    EXPECT_EQ(error, "DpduSettings.DllName not specified in INI");
    const std::string log = Log();
    EXPECT_NE(log.find("Dpdu_Init: ERROR: DpduSettings.DllName not specified in INI"), std::string::npos);
    EXPECT_NE(log.find("Backend: ORVEX3 (DpduDll='')"), std::string::npos);
    EXPECT_EQ(log.find("trying D-PDU DLL"), std::string::npos);
}

TEST_F(DpduTest, UnboundCallsFailWithOneAndOwnedItemsNeverReachTheVendor) {
    EXPECT_EQ(CallPDUModuleConnect(1), 1u);
    EXPECT_EQ(ReleaseItem(nullptr), 0u);
    PDU_DATA_ITEM* item = nullptr;
    EXPECT_EQ(GuardedIoCtl(1, 134, nullptr, &item), 1u);  // not bound
    UseScenario("dpdu_owned_items", "");
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    EXPECT_EQ(GuardedIoCtl(1, 134, nullptr, nullptr), 0x50u);
    ASSERT_EQ(GuardedIoCtl(1, 134, nullptr, &item), 0u);
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(IsOwnedItem(item));
    EXPECT_EQ(item->ItemType, PDU_IT_IO_UNUM32);
    EXPECT_EQ(*static_cast<uint32_t*>(item->pData), 0u);
    EXPECT_EQ(ReleaseItem(item), 0u);
    EXPECT_FALSE(IsOwnedItem(item));
    EXPECT_EQ(GuardedIoCtl(1, 16, nullptr, nullptr), 0u);
    EXPECT_EQ(CountOf(Trace(), "PDUDestroyItem"), 0u);
    EXPECT_EQ(CountOf(Trace(), "PDUIoCtl"), 0u);
}

// ---- construction -----------------------------------------------------------------------------

TEST_F(DpduTest, ConstructOptionsAreTriedInOrderUntilOneIsAccepted) {
    UseScenario("dpdu_construct_third", "ConstructOptions=Connection=Direct\n");
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_Init(), &error)) << error;
    const std::string log = Log();
    size_t a = log.find("Dpdu_Init: calling PDUConstruct with option 'default (nullptr)'");
    size_t b = log.find("Dpdu_Init: calling PDUConstruct with option 'empty string'");
    size_t c = log.find("Dpdu_Init: calling PDUConstruct with option 'Connection=Direct'");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(c, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_EQ(CountOf(log, "Dpdu_Init: PDUConstruct returned 0x1"), 2u);
    EXPECT_NE(log.find("Dpdu_Init: D-PDU initialised PASS using option Connection=Direct"), std::string::npos);
    EXPECT_EQ(log.find("UseService=0"), std::string::npos);
}

TEST_F(DpduTest, AllConstructOptionsFailing) {
    UseScenario("dpdu_construct_none", "ConstructOptions=Other\nConstructError=0x20\n");
    std::string error;
    EXPECT_FALSE(Ok(Dpdu_Init(), &error));
    EXPECT_EQ(error, "PDUConstruct failed with error 0x20. ORVEX3/MVCI runtime or VCI may not be initialised.");
    EXPECT_NE(Log().find("PDUConstruct PASS: FAIL"), std::string::npos);
    EXPECT_EQ(CountOf(Trace(), "PDUConstruct"), 4u);
    EXPECT_FALSE(Dpdu_IsInitialised());
    EXPECT_EQ(CallPDUModuleConnect(1), 1u);  // the library was unloaded
}

TEST_F(DpduTest, SecondInitOnlyCountsAUser) {
    UseScenario("dpdu_use_count", "");
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    EXPECT_EQ(CountOf(Trace(), "PDUConstruct"), 1u);
    Dpdu_Shutdown();
    EXPECT_TRUE(Dpdu_IsInitialised());
    EXPECT_TRUE(Dpdu_IsClosing());
    EXPECT_EQ(Log().find("Dpdu_Shutdown: tearing down"), std::string::npos);
    Dpdu_Shutdown();
    EXPECT_FALSE(Dpdu_IsInitialised());
    EXPECT_NE(Log().find("Dpdu_Shutdown: completed"), std::string::npos);
    Dpdu_Shutdown();  // one too many: harmless
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    EXPECT_FALSE(Dpdu_IsClosing());
}

TEST_F(DpduTest, KeepToolkitLoadedKeepsTheApiConstructed) {
    UseScenario("dpdu_keep_loaded", "");
    Dpdu_SetKeepToolkitLoaded(true);
    ASSERT_NE(InitAndOpenModule(), 0u);
    Dpdu_Shutdown();
    EXPECT_TRUE(Dpdu_IsInitialised());
    EXPECT_NE(Log().find("Dpdu_Shutdown: completed (kept toolkit loaded)"), std::string::npos);
    EXPECT_EQ(CountOf(Trace(), "PDUDestruct"), 0u);
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    EXPECT_EQ(CountOf(Trace(), "PDUConstruct"), 1u);

    // A forced shutdown (comm lost, LockDevice) unloads all the same, setting untouched.
    Dpdu_Shutdown(true);
    EXPECT_FALSE(Dpdu_IsInitialised());
    EXPECT_EQ(CountOf(Trace(), "PDUDestruct"), 1u);
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    Dpdu_Shutdown();
    EXPECT_TRUE(Dpdu_IsInitialised());
    EXPECT_EQ(CountOf(Log(), "Dpdu_Shutdown: completed (kept toolkit loaded)"), 2u);
}

// ---- module selection ---------------------------------------------------------------------------

TEST(DpduModuleScore, WordsAndKeys) {
    const std::string full = "Vendor=X ModuleName=Y SerialNumber=1 ConnectionType=USB";
    EXPECT_EQ(ScoreModule("Something", full).score, 40 + 30 + 15 + 25);
    EXPECT_EQ(ScoreModule("ORVEX3-VCI", full).score, 10 + 40 + 30 + 15 + 25);
    EXPECT_EQ(ScoreModule("Generic", "J2534 Standard Version 04.04").score, -80);
    EXPECT_EQ(ScoreModule("MIVRA box", "J2534 standard version 04.04").score, -70);
    ModuleScore wifi = ScoreModule("x", "connectiontype=Wi-Fi");
    EXPECT_TRUE(wifi.connWifi);
    EXPECT_EQ(wifi.score, 30 + 15);
    EXPECT_TRUE(ModuleMatchesFilters("ORVEX3-VCI", "SerialNumber=VS1", " nothing | orvex3 ", "", "vs1"));
    EXPECT_FALSE(ModuleMatchesFilters("ORVEX3-VCI", "", "a||b", "", ""));
    EXPECT_FALSE(ModuleMatchesFilters("ORVEX3-VCI", "Vendor=MIVRA", "", "MIVRA", ""));  // vendor name only
}

TEST_F(DpduTest, EqualScoresChooseTheFirstModule) {
    UseScenario("dpdu_equal_scores",
                "[Module1]\nName=Alpha\nInfo=SerialNumber=1 ConnectionType=USB\n"
                "[Module2]\nName=Beta\nInfo=SerialNumber=2 ConnectionType=USB\n");
    ASSERT_NE(InitAndOpenModule(), 0u);
    const std::string log = Log();
    EXPECT_NE(log.find("Dpdu_OpenModule: filtersSet=N DeviceName='' VendorName='' SerialNumber=''"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenModule: candidate index 1 score=85"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenModule: selected best module index 0 (hMod=1) score=85 Vendor='Alpha'"),
              std::string::npos);
    EXPECT_NE(Trace().find("PDUModuleConnect hMod=1"), std::string::npos);
}

TEST_F(DpduTest, FilterMatchingNotAvailableModuleFirstFailsTheOpen) {
    UseScenario("dpdu_not_avail",
                "[Module1]\nName=ORVEX3 busy\nInfo=x\nStatus=not_avail\n"
                "[Module2]\nName=ORVEX3 free\nInfo=y\n");
    g_config.DeviceFilter.DeviceName = "orvex3";
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    uint32_t moduleId = 0;
    EXPECT_FALSE(Ok(Dpdu_OpenModule(&moduleId), &error));
    EXPECT_EQ(error, "Matching module is NOT_AVAIL (likely already in use by another process).");
    EXPECT_EQ(CountOf(Trace(), "PDUModuleConnect"), 0u);
}

TEST_F(DpduTest, FilterSkipsOtherModulesAndReportsNoMatch) {
    UseScenario("dpdu_filters",
                "[Module1]\nName=Other\nInfo=SerialNumber=A1\n"
                "[Module2]\nName=ORVEX3\nInfo=SerialNumber=B2\n");
    g_config.DeviceFilter.SerialNumber = "b2";
    ASSERT_NE(InitAndOpenModule(), 0u);
    EXPECT_NE(Log().find("Dpdu_OpenModule: selected module index 1 (hMod=2) Vendor='ORVEX3' Info='SerialNumber=B2'"),
              std::string::npos);
    Dpdu_Shutdown();
    g_config.DeviceFilter.SerialNumber = "zz";
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    uint32_t moduleId = 0;
    EXPECT_FALSE(Ok(Dpdu_OpenModule(&moduleId), &error));
    EXPECT_EQ(error, "No module matches the configured filters (DeviceName/VendorName/SerialNumber).");
}

TEST_F(DpduTest, ProbeAttemptsAreNumberedAcrossPhasesAndReinitStartsAgain) {
    g_config.DpduSettings.ModuleProbeQuickAttempts = 6;
    g_config.DpduSettings.ModuleProbeSlowAttempts = 10;
    g_config.DpduSettings.ModuleProbeReinitAttempts = 8;
    UseScenario("dpdu_probe_numbering", "[Faults]\nError=" + ErrorsAt("PDUGetModuleIds", 1, 16, "0x32") + "\n");
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    uint32_t moduleId = 0;
    // The reinit loads the library again, whose call counter restarts: its attempts fail too.
    EXPECT_FALSE(Ok(Dpdu_OpenModule(&moduleId), &error));
    EXPECT_EQ(error, "PDUGetModuleIds failed or no modules available (error 0x32)");
    const std::string log = Log();
    for (int i = 1; i <= 6; ++i)
        EXPECT_NE(log.find("PDUGetModuleIds attempt " + std::to_string(i) + " (quick) returned 0x32, modules=0"),
                  std::string::npos);
    for (int i = 7; i <= 16; ++i)
        EXPECT_NE(log.find("PDUGetModuleIds attempt " + std::to_string(i) + " (slow) returned 0x32"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenModule: no modules after retries; attempting D-PDU reinit"), std::string::npos);
    for (int i = 1; i <= 8; ++i)
        EXPECT_NE(log.find("PDUGetModuleIds attempt " + std::to_string(i) + " (reinit) returned 0x32"),
                  std::string::npos);
    EXPECT_EQ(log.find("attempt 9 (reinit)"), std::string::npos);
    EXPECT_EQ(CountOf(Trace(), "PDUConstruct"), 2u);
    std::vector<uint32_t> quickPauses(RecordedPauses().begin(), RecordedPauses().begin() + 6);
    EXPECT_EQ(quickPauses, std::vector<uint32_t>(6, 150));
}

TEST_F(DpduTest, ReinitFindsTheModuleAfterTheFirstPhasesFail) {
    UseScenario("dpdu_probe_reinit", "[Faults]\nError=" + ErrorsAt("PDUGetModuleIds", 1, 4, "0x1") + "\n");
    Dpdu_SetKeepToolkitLoaded(true);  // forced off for the reinit's shutdown only
    g_config.DpduSettings.ModuleProbeReinitAttempts = 5;  // the reloaded library fails its first four
    ASSERT_NE(InitAndOpenModule(), 0u);
    EXPECT_NE(Log().find("PDUGetModuleIds attempt 4 (reinit) returned 0x1"), std::string::npos);
    EXPECT_EQ(CountOf(Trace(), "PDUDestruct"), 1u);
    EXPECT_NE(Log().find("ModuleConnect OK: PASS"), std::string::npos);
    Dpdu_Shutdown();
    EXPECT_NE(Log().find("Dpdu_Shutdown: completed (kept toolkit loaded)"), std::string::npos);
}

TEST_F(DpduTest, LockDeviceCodeCostsExactlyOnePauseAndOneRetry) {
    UseScenario("dpdu_lock_retry", "[Module1]\nName=ORVEX3\nInfo=x\nConnectResults=0x1,0x0\n");
    ASSERT_NE(InitAndOpenModule(), 0u);
    EXPECT_EQ(RecordedPauses(), std::vector<uint32_t>{1200});
    EXPECT_EQ(CountOf(Trace(), "PDUModuleConnect"), 2u);
    const std::string log = Log();
    EXPECT_NE(log.find("Dpdu_OpenModule: ModuleConnect attempt 1 failed: 0x1"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenModule: MIVRA LockDevice failed (device busy/locked)"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenModule: ModuleConnect OK (PASS), hMod=1"), std::string::npos);
}

TEST_F(DpduTest, LockDeviceTwiceAndOtherConnectErrors) {
    UseScenario("dpdu_lock_twice", "[Module1]\nName=ORVEX3\nInfo=x\nConnectResults=0x1,0x1\n");
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    uint32_t moduleId = 0;
    DpduResult busy = Dpdu_OpenModule(&moduleId);
    EXPECT_EQ(busy.status, DpduStatus::DeviceBusy);
    EXPECT_EQ(busy.code, 1u);
    EXPECT_EQ(busy.text, "PDUModuleConnect failed with error 0x1");
    EXPECT_NE(Log().find("Dpdu_OpenModule: ModuleConnect retry failed: 0x1"), std::string::npos);
    Dpdu_Shutdown();

    UseScenario("dpdu_connect_other", "[Module1]\nName=ORVEX3\nInfo=x\nConnectResults=0xa3\n");
    RecordedPauses().clear();
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    DpduResult other = Dpdu_OpenModule(&moduleId);
    EXPECT_EQ(other.status, DpduStatus::Failed);
    EXPECT_EQ(other.text, "PDUModuleConnect failed with error 0xa3");
    EXPECT_TRUE(RecordedPauses().empty());
    EXPECT_EQ(CountOf(Trace(), "PDUModuleConnect"), 1u);
    Dpdu_Shutdown();

    // Codes that only begin like the busy one are other errors; no module at all is its own.
    for (const char* code : {"0x10", "0x1a"}) {
        UseScenario(std::string("dpdu_connect_") + code, std::string("[Module1]\nName=ORVEX3\nInfo=x\nConnectResults=") +
                                                             code + "\n");
        ASSERT_TRUE(Ok(Dpdu_Init(), &error));
        EXPECT_EQ(Dpdu_OpenModule(&moduleId).status, DpduStatus::Failed) << code;
        Dpdu_Shutdown();
    }
    UseScenario("dpdu_connect_none", "[Faults]\nError=" + ErrorsAt("PDUGetModuleIds", 1, 16, "0x1") + "\n");
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    DpduResult none = Dpdu_OpenModule(&moduleId);
    EXPECT_EQ(none.status, DpduStatus::NoModule);
    EXPECT_EQ(none.text.rfind("PDUGetModuleIds failed or no modules available", 0), 0u);
}

TEST_F(DpduTest, ModuleIdsCountUpAndCloseForgetsThem) {
    UseScenario("dpdu_module_ids", "");
    uint32_t first = InitAndOpenModule();
    ASSERT_NE(first, 0u);
    std::string error;
    uint32_t second = 0;
    ASSERT_TRUE(Ok(Dpdu_OpenModule(&second), &error));
    EXPECT_EQ(second, first + 1);
    ASSERT_TRUE(Ok(Dpdu_CloseModule(first), &error));
    EXPECT_TRUE(Dpdu_IsClosing());
    EXPECT_FALSE(Ok(Dpdu_CloseModule(first), &error));
    EXPECT_EQ(error, "Dpdu_CloseModule: invalid module handle");
    EXPECT_NE(Log().find("Dpdu_CloseModule: module=" + std::to_string(first) + " hMod=1"), std::string::npos);
    EXPECT_EQ(RecordedPauses().back(), 200u);
}

TEST_F(DpduTest, CommLostIsMarkedOncePerInitialisation) {
    UseScenario("dpdu_comm_lost_mark", "");
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    MarkCommLost("Here", 0xFFFFFFFFu);
    MarkCommLost("Again", 0x11);
    EXPECT_TRUE(Dpdu_IsCommLost());
    const std::string log = Log();
    EXPECT_NE(log.find("Dpdu: COMM LOST at Here: err=0xffffffff (-1)"), std::string::npos);
    EXPECT_EQ(log.find("Again"), std::string::npos);
    Dpdu_Shutdown();
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    EXPECT_FALSE(Dpdu_IsCommLost());
    MarkCommLost(nullptr, 0x11);
    EXPECT_NE(Log().find("Dpdu: COMM LOST at : err=0x11 (17)"), std::string::npos);
}

TEST_F(DpduTest, ShutdownStopsDiscoveryAndSwitchesTheEthernetLineOff) {
    UseScenario("dpdu_shutdown_controls", "[Ioctls]\nUnknown=PDU_IOCTL_DISABLE_LOCATOR\n");
    uint32_t moduleId = InitAndOpenModule();
    ASSERT_NE(OpenLink(moduleId, "CAN"), 0u);
    g_backend.doip.ethSwitchOn = true;
    g_backend.doip.ethSwitchIoctlId = 0;
    Dpdu_Shutdown();
    const std::string log = Log();
    EXPECT_NE(log.find("Dpdu_Shutdown: IOCTL PDU_IOCTL_SET_LOCATOR_STATE (22) value=0 hCLL=4294967295 -> 0x0"),
              std::string::npos);
    EXPECT_NE(log.find("Dpdu_Shutdown: IOCTL PDU_IOCTL_DISABLE_DISCOVERY (26) value=1 hCLL=4294967295 -> 0x0"),
              std::string::npos);
    EXPECT_EQ(log.find("IOCTL PDU_IOCTL_DISABLE_LOCATOR"), std::string::npos);  // unknown to the module
    EXPECT_EQ(CountOf(log, "Dpdu_Shutdown: IOCTL PDU_IOCTL_"), 6u);
    EXPECT_NE(log.find("Dpdu_OpenLink: PDUGetObjectId PDU_IOCTL_SET_ETH_SWITCH_STATE -> 18"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_Shutdown: IOCTL SET_ETH_SWITCH_STATE (18) state=0 hCLL=4294967295 -> 0x0"),
              std::string::npos);
    EXPECT_FALSE(g_backend.doip.ethSwitchOn.load());
    const std::string trace = Trace();
    EXPECT_LT(trace.find("PDUDestroyComLogicalLink"), trace.find("PDUIoCtl"));
    EXPECT_LT(trace.find("SET_ETH_SWITCH_STATE"), trace.find("PDUModuleDisconnect"));
    EXPECT_EQ(RecordedPauses().back(), 150u);
}

TEST_F(DpduTest, EthernetLineStaysAloneWhenNeverSwitchedOnOrSkipped) {
    UseScenario("dpdu_eth_skip", "[Ioctls]\nUnknown=PDU_IOCTL_SET_ETH_SWITCH_STATE\n");
    uint32_t moduleId = InitAndOpenModule();
    g_backend.doip.ethSwitchOn = false;
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_CloseModule(moduleId), &error));
    EXPECT_EQ(Log().find("SET_ETH_SWITCH_STATE"), std::string::npos);
    moduleId = 0;
    ASSERT_TRUE(Ok(Dpdu_OpenModule(&moduleId), &error));
    g_backend.doip.ethSwitchOn = true;
    g_backend.doip.ethSwitchIoctlId = 0;
    ASSERT_TRUE(Ok(Dpdu_CloseModule(moduleId), &error));
    EXPECT_NE(Log().find("Dpdu_OpenLink: PDUGetObjectId failed for PDU_IOCTL_SET_ETH_SWITCH_STATE: 0x0"),
              std::string::npos);
    EXPECT_TRUE(g_backend.doip.ethSwitchOn.load());  // nothing was sent
    g_config.DoIP.SkipEthSwitchIoctl = true;
    Dpdu_Shutdown();
    EXPECT_EQ(CountOf(Log(), "SET_ETH_SWITCH_STATE"), 1u);
    g_backend.doip.ethSwitchOn = false;
}

TEST_F(DpduTest, WithoutFiltersUnavailableModulesArePassedOver) {
    UseScenario("dpdu_none_available",
                "[Module1]\nName=ORVEX3\nInfo=SerialNumber=1\nStatus=not_ready\n"
                "[Module2]\nName=Other\nInfo=x\nStatus=not_avail\n");
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_Init(), &error));
    uint32_t moduleId = 0;
    EXPECT_FALSE(Ok(Dpdu_OpenModule(&moduleId), &error));
    EXPECT_EQ(error, "No suitable module found in PDU module list.");
    const std::string log = Log();
    EXPECT_NE(log.find("PDU Module[1]: hMod=2 Vendor='Other' Info='x' Status=32866"), std::string::npos);
    EXPECT_EQ(log.find("candidate index"), std::string::npos);
    EXPECT_NE(log.find("\r\nNo suitable module found in PDU module list.\r\n"), std::string::npos);
    EXPECT_NE(Trace().find("PDUDestroyItem item=#1(MODULE_ID)"), std::string::npos);
}
