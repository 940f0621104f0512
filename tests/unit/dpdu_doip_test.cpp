// DoIP through the D-PDU module against VciSim: the pre-steps (order, pauses, retries, skips),
// the DoIP entity module, and the DoIP link with its runtime resource and creation ladder.
#include "driver/dpdu/doip_presteps.h"
#include "tests/unit/dpdu_fixture.h"

namespace {

const char kSwitchOff[] = "name=PDU_IOCTL_SET_ETH_SWITCH_STATE in=0x1801:state=0,pin=8 -> 0x0";
const char kSwitchOn[] = "name=PDU_IOCTL_SET_ETH_SWITCH_STATE in=0x1801:state=1,pin=8 -> 0x0";
const char kVehicleId[] = "name=PDU_IOCTL_VEHICLE_ID_REQUEST in=0x1800:preselection=0,combination=2,time=2000";

const char kEntityScenario[] =
    "[Module1]\nName=ORVEX3-VCI\nInfo=Vendor=MIVRA ModuleName=ORVEX3-VCI SerialNumber=1 ConnectionType=USB\n"
    "[Module2]\nName=DOIP_ENTITY\nHiddenUntilVehicleId=1\n";

// The PDUIoCtl trace lines in order, shortened to what follows "hCLL=UNDEF id=N ".
std::vector<std::string> IoCtls(const std::string& trace) {
    std::vector<std::string> out;
    for (size_t p = trace.find("PDUIoCtl "); p != std::string::npos; p = trace.find("PDUIoCtl ", p + 1)) {
        std::string line = trace.substr(p, trace.find('\n', p) - p);
        out.push_back(line.substr(line.find("name=")));
    }
    return out;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

class DpduDoipTest : public DpduTest {
protected:
    uint32_t Open(const std::string& scenario) {
        UseScenario(::testing::UnitTest::GetInstance()->current_test_info()->name(), scenario);
        uint32_t id = InitAndOpenModule();
        RecordedPauses().clear();
        return id;
    }
    bool OpenDoipLink(uint32_t moduleId, uint32_t* linkId, std::string* error) {
        return Ok(Dpdu_OpenLink(moduleId, "DoIP", 14, linkId), error);
    }
};

}  // namespace

TEST_F(DpduDoipTest, PreStepsToggleSettleAndIdentify) {
    uint32_t moduleId = Open("");
    std::string error = "old";
    ASSERT_TRUE(Ok(Dpdu_RunDoipPreSteps(moduleId), &error));
    EXPECT_EQ(error, "");
    auto calls = IoCtls(Trace());
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0], kSwitchOff);
    EXPECT_EQ(calls[1], kSwitchOn);
    EXPECT_TRUE(StartsWith(calls[2], kVehicleId)) << calls[2];
    EXPECT_EQ(RecordedPauses(), (std::vector<uint32_t>{5000, 400}));
    const std::string log = Log();
    EXPECT_NE(log.find("Dpdu_OpenLink: IOCTL SET_ETH_SWITCH_STATE (18) state=0 hCLL=4294967295 -> 0x0\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenLink: IOCTL VEHICLE_ID_REQUEST (17) hCLL=4294967295 -> 0x0\r\n"), std::string::npos);
    // The switch goes off again with the module.
    Dpdu_Shutdown();
    EXPECT_NE(Log().find("Dpdu_Shutdown: IOCTL SET_ETH_SWITCH_STATE (18) state=0 hCLL=4294967295 -> 0x0\r\n"),
              std::string::npos);
}

TEST_F(DpduDoipTest, FailedSwitchIsRetriedThenFails) {
    uint32_t moduleId = Open("[Ioctls]\nFail=PDU_IOCTL_SET_ETH_SWITCH_STATE\n");
    std::string error;
    EXPECT_FALSE(Ok(Dpdu_RunDoipPreSteps(moduleId), &error));
    EXPECT_EQ(error, "DoIP pre-steps failed (ETH switch)");
    EXPECT_EQ(RecordedPauses(), (std::vector<uint32_t>{5000, 250, 5000}));
    EXPECT_EQ(CountOf(Trace(), "PDU_IOCTL_SET_ETH_SWITCH_STATE in="), 4u);
    EXPECT_EQ(CountOf(Trace(), "PDU_IOCTL_VEHICLE_ID_REQUEST in="), 0u);
    EXPECT_EQ(CountOf(Log(), "Dpdu_RunDoipPreSteps: ETH switch attempt 1 failed (will retry)\r\n"), 1u);
    EXPECT_EQ(CountOf(Log(), "attempt 2 failed"), 0u);

    // Without the toggle each attempt sends the on state only; no retries configured means one.
    g_config.DoIP.EthSwitchToggle = false;
    g_config.DoIP.SwitchRetries = 0;
    RecordedPauses().clear();
    EXPECT_FALSE(Ok(Dpdu_RunDoipPreSteps(moduleId), &error));
    EXPECT_EQ(CountOf(Trace(), "PDU_IOCTL_SET_ETH_SWITCH_STATE in="), 5u);
    EXPECT_TRUE(RecordedPauses().empty());

    // Going on without the switch takes both settings.
    g_config.DoIP.SwitchFirst = false;
    g_config.DoIP.AllowEthSwitchFailure = true;
    EXPECT_TRUE(Ok(Dpdu_RunDoipPreSteps(moduleId), &error));
    EXPECT_EQ(CountOf(Trace(), "PDU_IOCTL_VEHICLE_ID_REQUEST in="), 1u);
    EXPECT_TRUE(RecordedPauses().empty());  // no settle time without a switch
}

TEST_F(DpduDoipTest, SecondSwitchAttemptSucceeds) {
    uint32_t moduleId = Open("[Faults]\nError=PDUIoCtl@1=0x01\n");
    std::string error;
    EXPECT_TRUE(Ok(Dpdu_RunDoipPreSteps(moduleId), &error));
    EXPECT_EQ(RecordedPauses(), (std::vector<uint32_t>{5000, 250, 5000, 400}));
    EXPECT_EQ(CountOf(Trace(), "PDU_IOCTL_VEHICLE_ID_REQUEST in="), 1u);
}

TEST_F(DpduDoipTest, SkipsCountAsSuccess) {
    uint32_t moduleId = Open("");
    std::string error;
    g_config.DoIP.SkipEthSwitchIoctl = true;
    g_config.DoIP.TargetIp = "127.0.0.1";
    ASSERT_TRUE(Ok(Dpdu_RunDoipPreSteps(moduleId), &error));
    g_config.DoIP.TargetIp.clear();
    g_config.DoIP.Discovery = false;
    ASSERT_TRUE(Ok(Dpdu_RunDoipPreSteps(moduleId), &error));
    g_config.DoIP.Discovery = true;
    g_config.DoIP.SkipVehicleIdRequest = true;
    ASSERT_TRUE(Ok(Dpdu_RunDoipPreSteps(moduleId), &error));
    EXPECT_TRUE(IoCtls(Trace()).empty());
    const std::string log = Log();
    EXPECT_EQ(CountOf(log, "Dpdu_OpenLink: Skipping ETH_SWITCH_STATE IOCTL (SkipEthSwitchIoctl=1)\r\n"), 3u);
    EXPECT_EQ(CountOf(log, "Dpdu_OpenLink: Skipping DoIP VEHICLE_ID_REQUEST (TargetIp override set)\r\n"), 1u);
    EXPECT_EQ(CountOf(log, "Dpdu_OpenLink: Skipping DoIP VEHICLE_ID_REQUEST (Discovery=0)\r\n"), 1u);
    EXPECT_EQ(CountOf(log, "Dpdu_OpenLink: Skipping DoIP VEHICLE_ID_REQUEST (SkipVehicleIdRequest=1)\r\n"), 1u);
    // A skipped switch is not switched off at the end either.
    Dpdu_Shutdown();
    EXPECT_EQ(CountOf(Trace(), "PDU_IOCTL_SET_ETH_SWITCH_STATE in="), 0u);
}

TEST_F(DpduDoipTest, VehicleIdFailureOnlyLogsAndBadModulesAreRefused) {
    uint32_t moduleId = Open("[Ioctls]\nFail=PDU_IOCTL_VEHICLE_ID_REQUEST\n");
    std::string error;
    EXPECT_TRUE(Ok(Dpdu_RunDoipPreSteps(moduleId), &error));
    EXPECT_NE(Log().find("Dpdu_RunDoipPreSteps: VEHICLE_ID_REQUEST failed on hMod=1 (continuing)\r\n"),
              std::string::npos);
    EXPECT_FALSE(Ok(Dpdu_RunDoipPreSteps(0), &error));
    EXPECT_EQ(error, "Dpdu_RunDoipPreSteps: invalid module handle");
    EXPECT_FALSE(Ok(Dpdu_RunDoipPreSteps(moduleId + 7), &error));
    EXPECT_EQ(error, "Dpdu_RunDoipPreSteps: unknown module handle");
}

// The entity module appears only after a vehicle identification; from then on the pre-steps
// run on it, and the caller's module is identified as well.
TEST_F(DpduDoipTest, EntityModuleAfterVehicleIdentification) {
    uint32_t moduleId = Open(kEntityScenario);
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_RunDoipPreSteps(moduleId), &error));
    EXPECT_EQ(CountOf(Trace(), "PDUIoCtl hMod=1 "), 3u);
    ASSERT_TRUE(Ok(Dpdu_RunDoipPreSteps(moduleId), &error));
    const std::string log = Log();
    EXPECT_NE(log.find("Dpdu_OpenLink: DoIP entity module connected, hMod=2 Vendor='DOIP_ENTITY' Info=''\r\n"),
              std::string::npos) << log;
    EXPECT_NE(log.find("Dpdu_RunDoipPreSteps: DoIP entity module hMod=2\r\n"), std::string::npos);
    const std::string trace = Trace();
    EXPECT_EQ(CountOf(trace, "PDUIoCtl hMod=2 "), 3u);  // off, on, identification
    EXPECT_EQ(CountOf(trace, "PDUIoCtl hMod=1 "), 4u);  // and one more identification
    EXPECT_EQ(CountOf(trace, "PDUModuleConnect hMod=2"), 1u);
    ASSERT_TRUE(Ok(Dpdu_RunDoipPreSteps(moduleId), &error));
    EXPECT_EQ(CountOf(Trace(), "PDUModuleConnect hMod=2"), 1u);  // remembered, not connected again
}

TEST_F(DpduDoipTest, DoipLinkUsesTheResourceTheModuleExposes) {
    uint32_t moduleId = Open("");
    uint32_t linkId = 0;
    std::string error;
    ASSERT_TRUE(OpenDoipLink(moduleId, &linkId, &error)) << error;
    const std::string log = Log();
    EXPECT_NE(log.find("Dpdu_OpenLink: RID_UNDEF pins: [3:5] [12:4]\r\n"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenLink: DoIP resource available at runtime\r\n"), std::string::npos);
    // VciSim lists 0x30070001 first; the Orvex default is 0x300B0203.
    EXPECT_NE(log.find("Dpdu_OpenLink: DoIP resourceId mismatch with INI; using runtime-discovered id\r\n"),
              std::string::npos);
    EXPECT_EQ(CountOf(log, "marking DoIP available"), 0u);
    std::string trace = Trace();
    EXPECT_NE(trace.find("PDUGetResourceIds hMod=1 rsc={bus=3 protocol=0 pins=[3:5 12:4]}"), std::string::npos);
    EXPECT_NE(trace.find("resourceId=0x30070001 rsc=null"), std::string::npos);
    EXPECT_NE(trace.find("kind=doip"), std::string::npos);
    bool raw = true;
    ASSERT_TRUE(Dpdu_GetLinkRawMode(linkId, &raw));
    EXPECT_FALSE(raw);
    EXPECT_EQ(CountOf(trace, "CP_RawMode"), 0u);

    // The UDS request reaches the ECU behind the DoIP link.
    const uint8_t request[] = {0x22, 0xF1, 0x90};
    ASSERT_TRUE(Ok(Dpdu_Send(linkId, request, sizeof request, 1000, SendMode()), &error)) << error;
    std::vector<uint8_t> answer;
    ASSERT_TRUE(Ok(Receive(linkId, &answer, 1000), &error)) << error;
    ASSERT_GE(answer.size(), 3u);
    EXPECT_EQ(answer[0], 0x62);

    // A second link asks the module no more and keeps to the learnt id.
    uint32_t second = 0;
    ASSERT_TRUE(OpenDoipLink(moduleId, &second, &error)) << error;
    EXPECT_EQ(CountOf(Trace(), "PDUGetResourceIds"), 1u);
    EXPECT_EQ(CountOf(Log(), "Dpdu_OpenLink: overriding DoIP resourceId with runtime-discovered id\r\n"), 1u);
}

TEST_F(DpduDoipTest, DoipLinkOnTheEntityModule) {
    uint32_t moduleId = Open(kEntityScenario);
    uint32_t linkId = 0;
    std::string error;
    ASSERT_TRUE(OpenDoipLink(moduleId, &linkId, &error)) << error;
    EXPECT_NE(Log().find("Dpdu_OpenLink: switched to DoIP entity module after Vehicle ID, hMod=2\r\n"),
              std::string::npos);
    EXPECT_NE(Trace().find("PDUCreateComLogicalLink hMod=2 "), std::string::npos);
    EXPECT_NE(Trace().find("PDUConnect hMod=2 "), std::string::npos);
    uint32_t second = 0;
    ASSERT_TRUE(OpenDoipLink(moduleId, &second, &error)) << error;
    EXPECT_NE(Log().find("Dpdu_OpenLink: using DoIP entity module hMod=2\r\n"), std::string::npos);
    ASSERT_TRUE(Ok(Dpdu_CloseLink(linkId), &error));
    EXPECT_NE(Trace().find("PDUDestroyComLogicalLink hMod=2 hCLL=1"), std::string::npos);
}

// An empty answer marks DoIP as not supported for good: later links fail without asking.
TEST_F(DpduDoipTest, EmptyResourceListIsFinal) {
    uint32_t moduleId = Open("[Module1]\nName=ORVEX3-VCI\nResourceIds=0x300C0001:iso15765\n");
    uint32_t linkId = 0;
    std::string error;
    EXPECT_FALSE(OpenDoipLink(moduleId, &linkId, &error));
    EXPECT_EQ(error, "DoIP not supported (resource not exposed at runtime)");
    EXPECT_NE(Log().find("Dpdu_OpenLink: DoIP resource list empty; treating as not supported\r\n"), std::string::npos);
    EXPECT_FALSE(OpenDoipLink(moduleId, &linkId, &error));
    EXPECT_EQ(error, "DoIP not supported (resource not exposed at runtime)");
    EXPECT_EQ(CountOf(Trace(), "PDUGetResourceIds"), 1u);
    EXPECT_EQ(CountOf(Trace(), "PDUCreateComLogicalLink"), 0u);
}

TEST_F(DpduDoipTest, AllowedEmptyListStillEndsInARejectedLink) {
    uint32_t moduleId = Open("[Module1]\nName=ORVEX3-VCI\nResourceIds=0x300C0001:iso15765\n");
    g_config.DoIP.AllowEmptyResourceList = true;
    uint32_t linkId = 0;
    std::string error;
    EXPECT_FALSE(OpenDoipLink(moduleId, &linkId, &error));
    EXPECT_EQ(error, "DoIP link rejected by backend (invalid parameters). Check cable/profile/DoIP availability.");
    // The configured id first, then no id with the DoIP template.
    EXPECT_NE(Trace().find("resourceId=0x300B0203 rsc=null"), std::string::npos);
    EXPECT_NE(Trace().find("resourceId=0x0 rsc={bus=3 protocol=0 pins=[3:5 12:4]}"), std::string::npos);
    EXPECT_EQ(g_backend.doip.doipState.load(), 0);
}

TEST_F(DpduDoipTest, FailedResourceQuery) {
    uint32_t moduleId = Open("[Faults]\nError=PDUGetResourceIds@1=0x01,PDUGetResourceIds@2=0x01\n");
    uint32_t linkId = 0;
    std::string error;
    EXPECT_FALSE(OpenDoipLink(moduleId, &linkId, &error));
    EXPECT_EQ(error, "DoIP not supported (resource not exposed at runtime)");
    EXPECT_NE(Log().find("Dpdu_OpenLink: DoIP resource not exposed at runtime\r\n"), std::string::npos);

    ResetBackendForTests();
    g_config.DoIP.AllowMissingResourceList = true;
    // Allowed: the configured id is tried and, once created, marks DoIP available.
    EXPECT_TRUE(OpenDoipLink(moduleId, &linkId, &error)) << error;
    EXPECT_NE(Trace().find("resourceId=0x300B0203 rsc=null"), std::string::npos);
    EXPECT_NE(Log().find("Dpdu_OpenLink: DoIP link created; marking DoIP available\r\n"), std::string::npos);
    EXPECT_EQ(g_backend.doip.doipState.load(), 1);
}

// A link the module refuses for another reason turns "available" into "not supported".
TEST_F(DpduDoipTest, RejectedCreationEndsDoip) {
    uint32_t moduleId = Open("[Faults]\nError=PDUCreateComLogicalLink@2=0x01\n");
    uint32_t linkId = 0;
    std::string error;
    ASSERT_TRUE(OpenDoipLink(moduleId, &linkId, &error)) << error;
    EXPECT_EQ(g_backend.doip.doipState.load(), 1);
    EXPECT_FALSE(OpenDoipLink(moduleId, &linkId, &error));
    EXPECT_EQ(error, "DoIP link rejected by backend (error 0x1)");
    EXPECT_FALSE(OpenDoipLink(moduleId, &linkId, &error));
    EXPECT_EQ(error, "DoIP not supported (resource not exposed at runtime)");
}

TEST_F(DpduDoipTest, PreStepFailureStopsTheLink) {
    uint32_t moduleId = Open("[Ioctls]\nFail=PDU_IOCTL_VEHICLE_ID_REQUEST\n");
    uint32_t linkId = 0;
    std::string error;
    EXPECT_FALSE(OpenDoipLink(moduleId, &linkId, &error));
    EXPECT_EQ(error, "DoIP not ready (ETH switch/vehicle ID pre-steps failed)");
    EXPECT_EQ(CountOf(Trace(), "PDUCreateComLogicalLink"), 0u);
}

// TRX4820: the id again without resource data, then no id with the DoIP template, then the
// other Ethernet pin sets.
TEST_F(DpduDoipTest, Trx4820CreationLadder) {
    g_config.BackendTypeName = "TRX4820";
    g_config.Backend = BackendType::TRX4820;
    g_config.ResourceIds.DoIP = 0x30070001;
    uint32_t moduleId = Open(
        "[Faults]\nError=PDUCreateComLogicalLink@1=0x50,PDUCreateComLogicalLink@2=0x50,"
        "PDUCreateComLogicalLink@3=0x50\n");
    uint32_t linkId = 0;
    std::string error;
    ASSERT_TRUE(OpenDoipLink(moduleId, &linkId, &error)) << error;
    const std::string trace = Trace();
    EXPECT_EQ(CountOf(trace, "PDUCreateComLogicalLink hMod=1 resourceId=0x30070001 rsc=null"), 2u);
    EXPECT_EQ(CountOf(trace, "resourceId=0xFFFFFFFE rsc={bus=3 protocol=0 pins=[3:5 12:4]}"), 1u);
    EXPECT_EQ(CountOf(trace, "resourceId=0xFFFFFFFE rsc={bus=3 protocol=0 pins=[3:5 11:5 12:4 13:4]} flags"), 1u);
    EXPECT_EQ(CountOf(Log(), "Dpdu_OpenLink: DoIP link created; marking DoIP available\r\n"), 0u);
}

TEST_F(DpduDoipTest, Trx4820LegacyFlowIsStrict) {
    g_config.BackendTypeName = "TRX4820";
    g_config.Backend = BackendType::TRX4820;
    g_config.ResourceIds.DoIP = 0x30070001;
    g_config.DoIP.LegacyFlow = true;
    g_config.DoIP.UseRscDataFallback = false;
    uint32_t moduleId = Open("[Faults]\nError=PDUCreateComLogicalLink@1=0x50\n");
    uint32_t linkId = 0;
    std::string error;
    EXPECT_FALSE(OpenDoipLink(moduleId, &linkId, &error));
    EXPECT_EQ(CountOf(Trace(), "PDUCreateComLogicalLink"), 1u);
    const std::string log = Log();
    EXPECT_NE(log.find("Dpdu_OpenLink: using Legacy DoIP flow (pre-steps enabled)\r\n"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenLink: DoIP strict mode - HS-CAN fallback disabled\r\n"), std::string::npos);
}
