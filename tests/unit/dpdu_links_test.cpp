// Logical links: name classification and resource-id mapping, creation with its fallback
// ladder, CAN FD and raw-mode ComParams, close.
#include <string>

#include "driver/dpdu/link_mapping.h"
#include "tests/unit/dpdu_fixture.h"

namespace {

uint32_t Mapped(const std::string& name, std::string* error = nullptr) {
    std::string e;
    uint32_t id = 0;
    if (!MapResourceId(ClassifyLinkName(name), name, &id, &e)) id = 0;
    if (error) *error = e;
    return id;
}

}  // namespace

TEST_F(DpduTest, NamesMapThroughTheConfiguredIds) {
    UseScenario("dpdu_mapping", "");
    auto& r = g_config.ResourceIds;
    r = {};
    r.CanHS = 0x11;
    r.CanRawHS = 0x12;
    r.CanLS = 0x21;
    r.CanRawLS = 0x22;
    r.KwpOnCanLS = 0x23;
    r.KLine = 0x31;
    r.DoIP = 0x41;
    EXPECT_EQ(Mapped("ISO15765 LS"), 0x21u);
    EXPECT_EQ(Mapped("Kwp2000 Can2"), 0x23u);
    EXPECT_EQ(Mapped(" iso 15765 hs"), 0x11u);
    EXPECT_EQ(Mapped("CanRaw"), 0x12u);
    EXPECT_EQ(Mapped("ISO9141"), 0x31u);
    EXPECT_EQ(Mapped("DoIP"), 0x41u);
    // Without a low-speed id the high-speed mapping is used.
    r.CanLS = r.CanRawLS = r.KwpOnCanLS = 0;
    EXPECT_EQ(Mapped("ISO15765LS"), 0x11u);
    EXPECT_NE(Log().find("Dpdu_OpenLink: NOTE: CAN2 (LS) resourceId not configured; using CAN1 (HS) mapping"),
              std::string::npos);
    // Without FD ids a CAN FD name still maps to the classic id, with a note.
    EXPECT_EQ(Mapped("CANFD"), 0x12u);
    EXPECT_NE(Log().find("Dpdu_OpenLink: NOTE: CAN-FD resourceId not configured; using non-FD resource"),
              std::string::npos);
    r.CanFdHS = 0x51;
    r.Iso15765FdHS = 0x52;
    EXPECT_EQ(Mapped("CANFD"), 0x51u);
    EXPECT_EQ(Mapped("ISO15765FD"), 0x52u);
    g_config.CanFd.PreferIso15765Resource = true;
    EXPECT_EQ(Mapped("CANFD"), 0x52u);

    std::string error;
    r.KLine = 0xFFFFFFFFu;
    EXPECT_EQ(Mapped("KLine", &error), 0u);
    EXPECT_EQ(error, "Dpdu_OpenLink: K-Line not supported (no valid ResourceId)");
    r.DoIP = 0;
    EXPECT_EQ(Mapped("ETH", &error), 0u);
    EXPECT_EQ(error, "Dpdu_OpenLink: DoIP not supported (no valid ResourceId)");
    EXPECT_EQ(Mapped("J1850", &error), 0u);
    EXPECT_EQ(error.rfind("Dpdu_OpenLink: no ResourceId mapping for logicalLinkName='J1850'. Fix:", 0), 0u);
}

TEST_F(DpduTest, LinkOpensOnTheMappedIdWithRawMode) {
    UseScenario("dpdu_link_plain", "");
    g_config.Logging.ExposeResourceId = true;
    uint32_t moduleId = InitAndOpenModule();
    ASSERT_NE(moduleId, 0u);
    uint32_t first = OpenLink(moduleId, "ISO15765");
    uint32_t second = OpenLink(moduleId, "CAN");
    ASSERT_NE(first, 0u);
    EXPECT_EQ(second, first + 1);
    bool raw = false;
    ASSERT_TRUE(Dpdu_GetLinkRawMode(first, &raw));
    EXPECT_TRUE(raw);
    EXPECT_FALSE(Dpdu_GetLinkRawMode(99, &raw));
    const std::string log = Log();
    EXPECT_NE(log.find("Dpdu_OpenLink: module=" + std::to_string(moduleId) + " (hMod=1), logicalLinkName='ISO15765'"),
              std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenLink: mapped logicalLinkName -> ISO15765(UDS) resourceId from INI"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenLink: using resourceId=806092801"), std::string::npos);
    EXPECT_NE(log.find("OpenLink resourceId: PASS (0x300C0001)"), std::string::npos);
    EXPECT_NE(log.find("OpenLink: logicalLink='CAN' resourceId=0x300C0003"), std::string::npos);
    EXPECT_EQ(CountOf(log, "Dpdu_OpenLink: CP_RawMode enabled (1)"), 2u);
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_CloseLink(first), &error));
    EXPECT_FALSE(Ok(Dpdu_CloseLink(first), &error));
    EXPECT_EQ(error, "Dpdu_CloseLink: invalid link handle");
    const std::string trace = Trace();
    EXPECT_NE(trace.find("PDUDisconnect hMod=1 hCLL=1 -> 0x0"), std::string::npos);
    EXPECT_NE(trace.find("PDUDestroyComLogicalLink hMod=1 hCLL=1 -> 0x0"), std::string::npos);
    EXPECT_FALSE(Ok(Dpdu_OpenLink(42, "CAN", 5, &first), &error));
    EXPECT_EQ(error, "Dpdu_OpenLink: invalid module handle");
}

TEST_F(DpduTest, FallbackLadderAlternateRawIdThenRidUndefThenDiscovery) {
    // 0x300C0003 is missing: the alternate raw id is tried next.
    UseScenario("dpdu_ladder_alt",
                "[Module1]\nName=ORVEX3\nInfo=x\nResourceIds=0x300B0003,0x300C0001\n");
    uint32_t moduleId = InitAndOpenModule();
    ASSERT_NE(OpenLink(moduleId, "CAN"), 0u);
    std::string log = Log();
    EXPECT_NE(log.find("Dpdu_OpenLink: got 0x50 for ResourceId=0x300C0003. Retrying with 0x300B0003"),
              std::string::npos);
    EXPECT_NE(log.find("OpenLink resourceId: PASS (0x300B0003)"), std::string::npos);
    Dpdu_Shutdown();

    // An ISO 15765 id the module lacks: the template with RID_UNDEF finds the module's own.
    UseScenario("dpdu_ladder_undef", "[Module1]\nName=ORVEX3\nInfo=x\nResourceIds=0x300B0001\n");
    moduleId = InitAndOpenModule();
    ASSERT_NE(OpenLink(moduleId, "ISO15765"), 0u);
    log = Log();
    EXPECT_NE(log.find("Dpdu_OpenLink: got 0x50. Retrying with ResourceId=0xFFFFFFFE + RscData"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenLink: RID_UNDEF template: BusTypeId=1, ProtocolId=2, NumPinData=2"),
              std::string::npos);
    EXPECT_NE(Trace().find("resourceId=0xFFFFFFFE"), std::string::npos);
    Dpdu_Shutdown();

    // Nothing fits: every step is tried and the error names the last code.
    UseScenario("dpdu_ladder_none", "[Module1]\nName=ORVEX3\nInfo=x\nResourceIds=0x300C0215\n");
    moduleId = InitAndOpenModule();
    std::string error;
    uint32_t linkId = 0;
    EXPECT_FALSE(Ok(Dpdu_OpenLink(moduleId, "ISO15765", 6, &linkId), &error));
    EXPECT_EQ(error, "PDUCreateComLogicalLink failed with error 0x50");
    EXPECT_NE(Log().find("Dpdu_OpenLink: PDUGetResourceIds failed or returned empty list, err=0x0"), std::string::npos);
    EXPECT_EQ(CountOf(Trace(), "PDUCreateComLogicalLink"), 2u);
}

TEST_F(DpduTest, ResourceProbingTriesTheBackendCandidateFirst) {
    UseScenario("dpdu_probe_ids", "");
    g_config.DpduSettings.ResourceIdProbe = true;
    g_config.Backend = BackendType::TVN;
    uint32_t moduleId = InitAndOpenModule();
    ASSERT_NE(OpenLink(moduleId, "ISO15765"), 0u);
    EXPECT_NE(Trace().find("PDUCreateComLogicalLink hMod=1 resourceId=0x30012001"), std::string::npos);
    EXPECT_NE(Log().find("OpenLink resourceId: PASS (0x30012001)"), std::string::npos);
}

TEST_F(DpduTest, CanFdOnASharedRawResourceSetsTheFdComParams) {
    UseScenario("dpdu_canfd_shared", "");
    g_config.ResourceIds.CanFdHS = g_config.ResourceIds.CanRawHS;
    g_config.CanFd.TxMaxDataLength = 64;
    uint32_t moduleId = InitAndOpenModule();
    ASSERT_NE(OpenLink(moduleId, "CANFD", 9), 0u);
    const std::string log = Log();
    EXPECT_NE(log.find("Dpdu_OpenLink: CAN-FD requested on shared RAWCAN resource; enabling FD comparams"),
              std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenLink: trying CP_CANFDTxMaxDataLength=64 -> 0x0"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenLink: CAN-FD ComParams set (DataBaud=2000000, TxMaxLen=64)"), std::string::npos);
    EXPECT_NE(Trace().find("PDUSetComParam"), std::string::npos);
}

TEST_F(DpduTest, CanFdWithoutFdIdsUsesTheClassicLinkWithoutFdComParams) {
    UseScenario("dpdu_canfd_none", "");
    g_config.ResourceIds.CanFdHS = g_config.ResourceIds.Iso15765FdHS = 0;
    uint32_t moduleId = InitAndOpenModule();
    ASSERT_NE(OpenLink(moduleId, "CANFD", 9), 0u);
    const std::string log = Log();
    EXPECT_NE(log.find("Dpdu_OpenLink: CAN-FD ComParams skipped (non-FD resourceId in use)"), std::string::npos);
    EXPECT_EQ(log.find("CP_CANFDBaudrate"), std::string::npos);
}

TEST_F(DpduTest, CanFdTxMaxLenRejectionAndBaudRejection) {
    UseScenario("dpdu_canfd_reject", "[ComParams]\nRejectSet=CP_CANFDTxMaxDataLength=0x50\n");
    g_config.ResourceIds.CanFdHS = g_config.ResourceIds.CanRawHS;
    uint32_t moduleId = InitAndOpenModule();
    ASSERT_NE(OpenLink(moduleId, "CANFD", 9), 0u);
    ASSERT_NE(OpenLink(moduleId, "CANFD", 9), 0u);
    std::string log = Log();
    EXPECT_NE(log.find("Dpdu_OpenLink: trying CP_CANFDTxMaxDataLength=16 -> 0x50"), std::string::npos);
    EXPECT_EQ(CountOf(log, "Dpdu_OpenLink: NOTE: backend rejected CP_CANFDTxMaxDataLength (0x50/0x63)."), 1u);
    EXPECT_NE(log.find("TxMaxLen=REJECTED_BY_BACKEND"), std::string::npos);
    EXPECT_EQ(CountOf(log, "trying CP_CANFDTxMaxDataLength"), 3u);  // the second link does not repeat them
    EXPECT_EQ(log.find("WARN: CP_CANFDTxMaxDataLength set failed"), std::string::npos);
    Dpdu_Shutdown();

    // 0x63 is a rejection too, but unlike 0x50 it is also warned about on each try.
    ResetBackendForTests();
    UseScenario("dpdu_canfd_reject63", "[ComParams]\nRejectSet=CP_CANFDTxMaxDataLength=0x63\n");
    moduleId = InitAndOpenModule();
    ASSERT_NE(OpenLink(moduleId, "CANFD", 9), 0u);
    log = Log();
    EXPECT_EQ(CountOf(log, "Dpdu_OpenLink: WARN: CP_CANFDTxMaxDataLength set failed: 0x63"), 3u);
    EXPECT_EQ(CountOf(log, "Dpdu_OpenLink: NOTE: backend rejected CP_CANFDTxMaxDataLength (0x50/0x63)."), 1u);
    EXPECT_NE(log.find("TxMaxLen=REJECTED_BY_BACKEND"), std::string::npos);
    Dpdu_Shutdown();

    UseScenario("dpdu_canfd_baud", "[ComParams]\nRejectSet=CP_CANFDBaudrate=0x61\n");
    moduleId = InitAndOpenModule();
    std::string error;
    uint32_t linkId = 0;
    EXPECT_FALSE(Ok(Dpdu_OpenLink(moduleId, "CANFD", 9, &linkId), &error));
    EXPECT_EQ(error, "Dpdu_OpenLink: CAN-FD not supported (backend rejected FD baudrate)");
    EXPECT_FALSE(Ok(Dpdu_OpenLink(moduleId, "CANFD", 9, &linkId), &error));
    EXPECT_EQ(error, "Dpdu_OpenLink: CAN-FD not supported (cached)");
    // Both created links were destroyed again.
    EXPECT_EQ(CountOf(Trace(), "PDUDestroyComLogicalLink"), 2u);
}

TEST_F(DpduTest, RawModeRejectedOnceThenSkipped) {
    UseScenario("dpdu_rawmode", "[ObjectIds]\nUnknown=CP_RawMode\n");
    uint32_t moduleId = InitAndOpenModule();
    uint32_t first = OpenLink(moduleId, "CAN");
    ASSERT_NE(OpenLink(moduleId, "CAN"), 0u);
    const std::string log = Log();
    EXPECT_EQ(CountOf(log, "Dpdu_OpenLink: CP_RawMode unsupported/failed (non-fatal): 0x63"), 1u);
    EXPECT_EQ(CountOf(log, "Dpdu_OpenLink: disabling CP_RawMode attempts (unsupported)"), 1u);
    EXPECT_EQ(CountOf(log, "Dpdu_OpenLink: CP_RawMode skipped (unsupported)"), 1u);
    bool raw = true;
    ASSERT_TRUE(Dpdu_GetLinkRawMode(first, &raw));
    EXPECT_FALSE(raw);
}

TEST_F(DpduTest, ConnectFailureDestroysTheLink) {
    UseScenario("dpdu_connect_fail", "[Faults]\nError=PDUConnect@1=0x41\n");
    uint32_t moduleId = InitAndOpenModule();
    std::string error;
    uint32_t linkId = 0;
    EXPECT_FALSE(Ok(Dpdu_OpenLink(moduleId, "ISO15765", 6, &linkId), &error));
    EXPECT_EQ(error, "PDUConnect (link) failed with error 0x41");
    EXPECT_NE(Trace().find("PDUDestroyComLogicalLink hMod=1 hCLL=1 -> 0x0"), std::string::npos);
}
