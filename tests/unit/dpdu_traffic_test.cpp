// ComParams for ISO 15765 ids, the backend-specific send conversions, receive of results and
// no-response events, comm loss, battery voltage, crashes inside the vendor library, and the
// item accounting over a whole session.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "driver/bench/bench.h"
#include "driver/dpdu/api_table.h"
#include "tests/unit/dpdu_fixture.h"

namespace {

std::string SentData(const std::string& trace, size_t nth = 0) {
    size_t pos = 0;
    for (size_t i = 0; i <= nth; ++i) {
        pos = trace.find("PDUStartComPrimitive", pos);
        if (pos == std::string::npos) return {};
        if (i < nth) ++pos;
    }
    size_t d = trace.find("data=[", pos);
    size_t e = trace.find(']', d);
    return trace.substr(d + 6, e - d - 6);
}

}  // namespace

// ---- ComParams ---------------------------------------------------------------------------------

TEST_F(DpduTest, OrvexMdfNamesSetTheIdsAndKeepFullFrames) {
    UseScenario("dpdu_cp_orvex", "");
    uint32_t linkId = OpenLink(InitAndOpenModule(), "ISO15765");
    ASSERT_TRUE(Dpdu_SetIso15765Ids(linkId, 0x7FF, 0x800));
    const std::string log = Log();
    EXPECT_NE(log.find("Dpdu_SetIso15765Ids: ORVEX3 set IDs tx=0x7FF rx=0x800 fmtTx=0 fmtRx=1"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_SetIso15765Ids: CP_RequestAddrMode=1 (keeping backend default)"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_SetIso15765Ids: CP_CanPhysReqId -> 0x0"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_SetIso15765Ids: MIVRA_ORVEX3 CP_CanPhysReqId/CP_CanRespUSDTId result=TX_OK,RX_OK"),
              std::string::npos);
    EXPECT_NE(Trace().find("name=CP_CanRespUSDTFormat"), std::string::npos);
    EXPECT_EQ(CountOf(Trace(), "PDUSetComParam hMod=1 hCLL=1 id=0x215"), 0u);  // address mode only read
    // The link is not payload-only: the full frame goes out.
    ASSERT_TRUE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x3E, 0x00}));
    EXPECT_FALSE(Dpdu_SetIso15765Ids(77, 1, 2));
}

TEST_F(DpduTest, GenericScanTriesTheNamesInOrderAndSwitchesToPayloadOnly) {
    UseScenario("dpdu_cp_tvn",
                "[ObjectIds]\nComParams=CP_CanPhysReqId,CP_CanRespUSDTId\n");
    g_config.Backend = BackendType::TVN;
    uint32_t linkId = OpenLink(InitAndOpenModule(), "ISO15765");
    ASSERT_TRUE(Dpdu_SetIso15765Ids(linkId, 0x7E0, 0x7E8));
    const std::string log = Log();
    const char* rejected[] = {"CP_ISO15765TxID", "CP_ISO15765TxId", "CP_ISO15765_TxID",
                              "CP_ISO15765_TxId", "CP_TxID",         "CP_TxId",
                              "CP_CAN_TX_ID",     "CP_CanTxId",      "CP_CANTxId"};
    size_t last = log.find("Dpdu_SetIso15765Ids: CP_CANRESPUSDTFORMAT -> 0x63");
    ASSERT_NE(last, std::string::npos);
    for (const char* name : rejected) {
        size_t at = log.find(std::string("Dpdu_SetIso15765Ids: ") + name + " -> 0x63", last);
        ASSERT_NE(at, std::string::npos) << name;
        last = at;
    }
    EXPECT_LT(last, log.find("Dpdu_SetIso15765Ids: CP_CanPhysReqId -> 0x0"));
    EXPECT_EQ(log.find("CP_CANPHYSREQID ->"), std::string::npos);  // the scan stopped at the first success
    EXPECT_NE(log.find("Dpdu_SetIso15765Ids: tx=0x7E0 rx=0x7E8 result=TX_OK,RX_OK"), std::string::npos);
    // Payload-only: the id goes and a single-frame PCI is dropped.
    ASSERT_TRUE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x03, 0x22, 0xF1, 0x90}));
    EXPECT_EQ(SentData(Trace()), "22 F1 90");
    EXPECT_NE(Log().find("Dpdu_Send: rawMode=0 -> payload-only (id=0x7E0)"), std::string::npos);
    EXPECT_NE(Log().find("ISO15765: payload-only mode -> converted ISO-TP SingleFrame to UDS payload"),
              std::string::npos);
}

TEST_F(DpduTest, RejectedComParamIsNotReadAgain) {
    UseScenario("dpdu_cp_rejected", "[ComParams]\nRejectGet=CP_CanPhysReqFormat=0x63\n");
    uint32_t linkId = OpenLink(InitAndOpenModule(), "ISO15765");
    ASSERT_TRUE(Dpdu_SetIso15765Ids(linkId, 0x7E0, 0x7E8));
    ASSERT_TRUE(Dpdu_SetIso15765Ids(linkId, 0x7E0, 0x7E8));
    EXPECT_EQ(CountOf(Trace(), "name=CP_CanPhysReqFormat -> "), 1u);
    EXPECT_EQ(CountOf(Log(), "Dpdu_SetIso15765Ids: CP_CanPhysReqFormat -> 0x63"), 2u);
}

TEST_F(DpduTest, Trx4820SkipsIsoTpComParams) {
    UseScenario("dpdu_cp_trx", "");
    g_config.Backend = BackendType::TRX4820;
    uint32_t linkId = OpenLink(InitAndOpenModule(), "ISO15765");
    EXPECT_FALSE(Dpdu_SetIso15765Ids(linkId, 0x7E0, 0x7E8));
    EXPECT_NE(Log().find("Dpdu_SetIso15765Ids: VW/ODIS skip ComParams (unsupported)"), std::string::npos);
    EXPECT_EQ(CountOf(Trace(), "PDUSetComParam"), 1u);  // CP_RawMode only
}

// ---- send conversions ----------------------------------------------------------------------------

TEST_F(DpduTest, Trx4820KeepsTheIdButStripsTheSingleFramePci) {
    UseScenario("dpdu_send_trx", "");
    g_config.Backend = BackendType::TRX4820;
    session_.UdsApduOnly = true;
    uint32_t linkId = OpenLink(InitAndOpenModule(), "ISO15765", 6);
    ASSERT_TRUE(Dpdu_SetIso15765Ids(linkId, 0, 0) == false);
    // Raw mode is on for CAN links here; the conversion needs a link without it.
    UseScenario("dpdu_send_trx_noraw", "[ObjectIds]\nUnknown=CP_RawMode\n");
    Dpdu_Shutdown();
    ResetBackendForTests();
    linkId = OpenLink(InitAndOpenModule(), "ISO15765", 6);
    ASSERT_TRUE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x03, 0x22, 0xF1, 0x90}, 0));
    const std::string trace = Trace();
    EXPECT_EQ(SentData(trace), "00 00 07 E0 22 F1 90");
    EXPECT_NE(trace.find("time=1000 send=1 recv=0"), std::string::npos);
    const std::string log = Log();
    EXPECT_NE(log.find("ISO15765: VW/ODIS mode -> kept CAN-ID header but stripped ISO-TP PCI (UDS APDU only)"),
              std::string::npos);
    EXPECT_NE(log.find("Dpdu_Send: ISO15765 -> forcing send-only (no SENDRECV wait)"), std::string::npos);
    // An empty link queue on this backend also drains the module's own queue.
    std::vector<uint8_t> data;
    std::string error;
    EXPECT_TRUE(Ok(Receive(linkId, &data, 200), &error));
    EXPECT_FALSE(Ok(Receive(linkId, &data, 5), &error));
    EXPECT_NE(Trace().find("PDUGetEventItem hMod=1 hCLL=UNDEF"), std::string::npos);
}

TEST_F(DpduTest, TvnStripsStandardIdsOnlyAndShortMessagesStayWhole) {
    UseScenario("dpdu_send_tvn", "[ObjectIds]\nUnknown=CP_RawMode\n");
    g_config.Backend = BackendType::TVN;
    uint32_t linkId = OpenLink(InitAndOpenModule(), "CAN", 5);
    // What the simulated bus makes of the shortened frames does not matter here.
    Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x02, 0x3E, 0x00}, 50);
    Send(linkId, {0x80, 0x00, 0x07, 0xE0, 0x02, 0x3E, 0x00}, 50);
    Send(linkId, {0x00, 0x00, 0x07, 0xE0}, 50);
    const std::string trace = Trace();
    EXPECT_EQ(SentData(trace, 0), "02 3E 00");
    EXPECT_EQ(SentData(trace, 1), "80 00 07 E0 02 3E 00");
    EXPECT_EQ(SentData(trace, 2), "00 00 07 E0");
    EXPECT_NE(trace.find("time=50 send=1 recv=1"), std::string::npos);  // raw CAN: send and receive
    EXPECT_NE(Log().find("Dpdu_Send: rawMode=0 -> stripping CAN-ID header (id=0x7E0)"), std::string::npos);
}

TEST_F(DpduTest, OrvexWithXentryProfileSendsTheApduOnlyAndWaitsForTheAnswer) {
    UseScenario("dpdu_send_xentry", "[ObjectIds]\nUnknown=CP_RawMode\n");
    session_.XentryProfile = true;
    session_.UdsApduOnly = true;
    uint32_t linkId = OpenLink(InitAndOpenModule(), "ISO15765");
    ASSERT_TRUE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x02, 0x3E, 0x00, 0xAA}));
    EXPECT_EQ(SentData(Trace()), "00 00 07 E0 3E 00");
    EXPECT_NE(Log().find("Dpdu_Send: rawMode=0 -> keeping full frame (backend expects CAN-ID header)"),
              std::string::npos);
    EXPECT_NE(Log().find("Dpdu_Send: ISO15765 -> using SENDRECV (profile)"), std::string::npos);
}

TEST_F(DpduTest, ReceiveCyclesFollowTheProfiles) {
    UseScenario("dpdu_send_profiles", "");
    uint32_t linkId = OpenLink(InitAndOpenModule(), "ISO15765");
    const std::vector<uint8_t> frame = {0x00, 0x00, 0x07, 0xE0, 0x3E, 0x00};
    session_.WriteUsesSendRecv = true;
    session_.OdisProfile = true;
    g_config.Odis.UseSendRecvIso15765 = false;
    ASSERT_TRUE(Send(linkId, frame));
    g_config.Odis.UseSendRecvIso15765 = true;
    ASSERT_TRUE(Send(linkId, frame));
    session_.OdisProfile = false;
    session_.PcmflashProfile = true;
    session_.PCMflash.PCMflashEnabled = true;
    session_.PCMflash.UseSendRecvIso15765 = true;
    ASSERT_TRUE(Send(linkId, frame));
    session_.WriteUsesSendRecv = false;
    ASSERT_TRUE(Send(linkId, frame));
    const std::string trace = Trace();
    std::vector<std::string> cycles;
    for (size_t pos = trace.find(" recv="); pos != std::string::npos; pos = trace.find(" recv=", pos + 1))
        cycles.push_back(trace.substr(pos + 6, 1));
    EXPECT_EQ(cycles, (std::vector<std::string>{"0", "1", "1", "0"}));
    EXPECT_EQ(CountOf(Log(), "Dpdu_Send: ISO15765 -> using SENDRECV (profile)"), 2u);
    EXPECT_EQ(CountOf(Log(), "Dpdu_Send: ISO15765 -> forcing send-only (no SENDRECV wait)"), 1u);
}

TEST_F(DpduTest, SendRefusalsAndTheFailedStartText) {
    UseScenario("dpdu_send_fail", "[Faults]\nError=PDUStartComPrimitive@1=0x30\n");
    uint32_t linkId = OpenLink(InitAndOpenModule(), "CAN");
    std::string error;
    EXPECT_FALSE(Send(99, {1, 2, 3, 4, 5}, 10, &error));
    EXPECT_EQ(error, "Dpdu_Send: invalid link handle");
    EXPECT_FALSE(Ok(Dpdu_Send(linkId, nullptr, 0, 10, SendMode()), &error));
    EXPECT_EQ(error, "Dpdu_Send: no data");
    std::vector<uint8_t> big(40);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i);
    EXPECT_FALSE(Send(linkId, big, 10, &error));
    std::string expected = "PDUStartComPrimitive(SENDRECV-sendonly) failed with error 0x30 | tx[0..32]=00 01 02";
    EXPECT_EQ(error.rfind(expected, 0), 0u);
    EXPECT_EQ(error.substr(error.size() - 6), " 1E 1F");
    EXPECT_FALSE(Dpdu_IsCommLost());
    EXPECT_TRUE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x02, 0x3E, 0x00}));  // the link stays usable
}

// ---- receive -------------------------------------------------------------------------------------

TEST_F(DpduTest, ReceiveReturnsTheEcuAnswer) {
    UseScenario("dpdu_receive", "");
    uint32_t linkId = OpenLink(InitAndOpenModule(), "ISO15765");
    ASSERT_TRUE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x3E, 0x00}));
    std::vector<uint8_t> data;
    std::string error = "x";
    ASSERT_TRUE(Ok(Receive(linkId, &data, 500), &error));
    EXPECT_EQ(error, "");
    ASSERT_GE(data.size(), 2u);
    EXPECT_EQ(data[data.size() - 2], 0x7E);
    EXPECT_EQ(data.back(), 0x00);
    // Nothing more: a zero timeout still polls once and ends quietly.
    EXPECT_FALSE(Ok(Receive(linkId, &data, 0), &error));
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(error, "");
    EXPECT_FALSE(Ok(Receive(99, &data, 0), &error));
    EXPECT_EQ(error, "Dpdu_Receive: invalid link handle");
}

TEST_F(DpduTest, NoResponseEventsAreCountedAndReported) {
    UseScenario("dpdu_no_response", "");
    uint32_t linkId = OpenLink(InitAndOpenModule(), "ISO15765");
    ASSERT_TRUE(Send(linkId, {0x00, 0x00, 0x07, 0xE5, 0x3E, 0x00}, 5));  // nobody answers 0x7E5
    std::vector<uint8_t> data;
    std::string error;
    EXPECT_FALSE(Ok(Receive(linkId, &data, 300), &error));
    EXPECT_EQ(error, "Dpdu_Receive: no response (0x105/0x208)");
    EXPECT_NE(Log().find("Dpdu_Receive: no-response events (0x105/0x208) count_last_sec="), std::string::npos);
    EXPECT_NE(Log().find("resourceId=0x300C0001 logicalLink='ISO15765'"), std::string::npos);
}

TEST_F(DpduTest, LostVciOnSendAndReceiveShutsTheBackendDown) {
    UseScenario("dpdu_lost_send", "[Faults]\nError=PDUStartComPrimitive@1=0x11\n");
    uint32_t linkId = OpenLink(InitAndOpenModule(), "CAN");
    std::string error;
    EXPECT_FALSE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x3E}, 10, &error));
    EXPECT_TRUE(Dpdu_IsCommLost());
    EXPECT_FALSE(Dpdu_IsInitialised());
    EXPECT_NE(Log().find("Dpdu: COMM LOST at StartComPrimitive: err=0x11 (17)"), std::string::npos);
    EXPECT_FALSE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x3E}, 10, &error));
    EXPECT_EQ(error, "Dpdu_Send: comm lost");

    UseScenario("dpdu_lost_receive", "[Faults]\nError=PDUGetEventItem@2=0xa3\n");
    linkId = OpenLink(InitAndOpenModule(), "CAN");
    std::vector<uint8_t> data;
    EXPECT_FALSE(Ok(Receive(linkId, &data, 200), &error));
    EXPECT_EQ(error, "Dpdu_Receive: comm lost");
    EXPECT_NE(Log().find("Dpdu: COMM LOST at GetEventItem: err=0xa3 (163)"), std::string::npos);
    EXPECT_FALSE(Dpdu_IsInitialised());
}

TEST_F(DpduTest, BatteryVoltageAndIgnitionSense) {
    UseScenario("dpdu_vbatt", "[Module1]\nName=ORVEX3\nInfo=x\nVBattMv=13100\nIgnition=0\n");
    uint32_t moduleId = InitAndOpenModule();
    uint32_t mv = 0;
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_ReadVBatt(moduleId, &mv), &error)) << error;
    EXPECT_EQ(mv, 13100u);
    EXPECT_FALSE(Ok(Dpdu_ReadVBatt(moduleId + 5, &mv), &error));
    EXPECT_EQ(error, "Dpdu_ReadVBatt: invalid module handle");
    EXPECT_EQ(mv, 0u);  // no stale reading is left behind
    // Ignition sense (command 16): the VCI's answer, replaced by the override when it is on.
    PDU_DATA_ITEM* item = nullptr;
    ASSERT_EQ(GuardedIoCtl(1, 16, nullptr, &item), 0u);
    EXPECT_EQ(*static_cast<uint32_t*>(item->pData), 0u);
    ReleaseItem(item);
    g_config.Ignition.EnableOverride = true;
    ResetIgnitionState(DriverConfig());  // on
    ASSERT_EQ(GuardedIoCtl(1, 16, nullptr, &item), 0u);
    EXPECT_EQ(*static_cast<uint32_t*>(item->pData), 1u);
    EXPECT_FALSE(IsOwnedItem(item));
    ReleaseItem(item);
}

TEST_F(DpduTest, IgnitionSenseUnsupportedIsAnsweredByTheDriver) {
    UseScenario("dpdu_ignition_fail", "[Ioctls]\nFail=PDU_IOCTL_READ_IGNITION_SENSE_STATE=0x62\n");
    InitAndOpenModule();
    DriverConfig off;
    off.IgnitionOn = off.Ignition.IgnitionState = false;
    ResetIgnitionState(off);
    PDU_DATA_ITEM* item = nullptr;
    ASSERT_EQ(GuardedIoCtl(1, 16, nullptr, &item), 0u);
    EXPECT_TRUE(IsOwnedItem(item));
    EXPECT_EQ(*static_cast<uint32_t*>(item->pData), 0u);
    ReleaseItem(item);
    ResetIgnitionState(DriverConfig());
}

// ---- crashes inside the vendor library ------------------------------------------------------------

TEST_F(DpduTest, CrashInObjectIdLookupBecomes0x50) {
    UseScenario("dpdu_crash_objid", "[Faults]\nCrash=PDUGetObjectId@1\n");
    uint32_t moduleId = InitAndOpenModule();
    uint32_t mv = 0;
    std::string error;
    EXPECT_FALSE(Ok(Dpdu_ReadVBatt(moduleId, &mv), &error));
    EXPECT_EQ(error, "Dpdu_ReadVBatt: PDUGetObjectId failed: 0x50");
    EXPECT_NE(Log().find("PDUGetObjectId exception=0x"), std::string::npos);
    EXPECT_NE(Log().find(" objType=32803 name=PDU_IOCTL_READ_VBATT"), std::string::npos);
    ASSERT_TRUE(Ok(Dpdu_ReadVBatt(moduleId, &mv), &error)) << error;  // the library still works
}

TEST_F(DpduTest, CrashInIoCtlBecomes0x50) {
    UseScenario("dpdu_crash_ioctl", "[Faults]\nCrash=PDUIoCtl@1\n");
    uint32_t moduleId = InitAndOpenModule();
    uint32_t mv = 0;
    std::string error;
    EXPECT_FALSE(Ok(Dpdu_ReadVBatt(moduleId, &mv), &error));
    EXPECT_EQ(error, "Dpdu_ReadVBatt: PDUIoCtl failed: 0x50");
    EXPECT_NE(Log().find("PDUIoCtl exception=0x"), std::string::npos);
    EXPECT_NE(Log().find(" hMod=1 hCLL=4294967295 cmdId=6 pInput="), std::string::npos);
    ASSERT_TRUE(Ok(Dpdu_ReadVBatt(moduleId, &mv), &error)) << error;
}

TEST_F(DpduTest, CrashInLinkCreationBecomes0x50AndTheLadderGoesOn) {
    UseScenario("dpdu_crash_create", "[Faults]\nCrash=PDUCreateComLogicalLink@1,PDUCreateComLogicalLink@3\n");
    uint32_t moduleId = InitAndOpenModule();
    ASSERT_NE(OpenLink(moduleId, "ISO15765"), 0u);
    std::string log = Log();
    EXPECT_NE(log.find("PDUCreateComLogicalLink exception=0x"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_OpenLink: got 0x50. Retrying with ResourceId=0xFFFFFFFE + RscData"), std::string::npos);
    EXPECT_NE(Trace().find("PDUCreateComLogicalLink -> CRASH call=1"), std::string::npos);
    // The order that worked is remembered; a crash with it is retried once in the standard order.
    ASSERT_NE(OpenLink(moduleId, "CAN"), 0u);
    log = Log();
    EXPECT_EQ(CountOf(log, "PDUCreateComLogicalLink exception=0x"), 2u);
    EXPECT_EQ(CountOf(log, "Retrying with ResourceId=0xFFFFFFFE"), 1u);
    EXPECT_EQ(CountOf(Trace(), "PDUCreateComLogicalLink hMod=1"), 2u);
}

TEST_F(DpduTest, TvnCrashInLinkCreationProbesTheOtherArgumentOrders) {
    UseScenario("dpdu_crash_order", "[Faults]\nCrash=PDUCreateComLogicalLink@1\n");
    g_config.Backend = BackendType::TVN;
    InitAndOpenModule();
    uint32_t hCLL = 0;
    // Order 2 hands the id over as the resource-data pointer: the library crashes on it too.
    // Where pointers are wider than the id, orders 2 and 4 are never tried.
    EXPECT_EQ(GuardedCreateCll(1, nullptr, 0x300C0001, &hCLL, nullptr, 0, true), 0u);
    EXPECT_EQ(g_backend.api.createOrder.load(), 3u);
    const std::string log = Log();
    EXPECT_NE(log.find("PDUCreateComLogicalLink exception=0x"), std::string::npos);
    EXPECT_EQ(log.find(" order=2 rid=806092801") != std::string::npos, sizeof(void*) == 4);
    EXPECT_EQ(CountOf(Trace(), "PDUCreateComLogicalLink hMod=1"), 1u);
    // Without permission to probe, a crash is just the error.
    UseScenario("dpdu_crash_order_strict", "[Faults]\nCrash=PDUCreateComLogicalLink@1\n");
    Dpdu_Shutdown();
    InitAndOpenModule();
    EXPECT_EQ(GuardedCreateCll(1, nullptr, 0x300C0001, &hCLL, nullptr, 0, false), 0x50u);
    EXPECT_EQ(g_backend.api.createOrder.load(), 0u);
}

// Every other vendor call runs guarded as well: those of every message (start, poll, destroy) and
// those of start-up and tear-down.
TEST_F(DpduTest, CrashesInTrafficCallsBecome0x50AndTrafficGoesOn) {
    UseScenario("dpdu_crash_traffic",
                "[Faults]\nCrash=PDUStartComPrimitive@1,PDUGetEventItem@1,PDUDestroyItem@3\n");
    uint32_t linkId = OpenLink(InitAndOpenModule(), "CAN");
    std::string error;
    EXPECT_FALSE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x02, 0x3E, 0x00}, 100, &error));
    EXPECT_EQ(error.rfind("PDUStartComPrimitive(SENDRECV-sendonly) failed with error 0x50", 0), 0u) << error;
    ASSERT_TRUE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x02, 0x3E, 0x00}));
    std::vector<uint8_t> data;
    ASSERT_TRUE(Ok(Receive(linkId, &data, 500), &error)) << error;  // the poll after the crash finds it
    EXPECT_EQ(data.size(), 12u);
    const std::string log = Log();
    EXPECT_NE(log.find("PDUStartComPrimitive exception=0x"), std::string::npos);
    EXPECT_NE(log.find("PDUGetEventItem exception=0x"), std::string::npos);
    EXPECT_NE(log.find("PDUDestroyItem exception=0x"), std::string::npos);
    EXPECT_FALSE(Dpdu_IsCommLost());
}

// A library that hands out an event item whose data pointer leads nowhere: reading the item is
// part of the guarded call, so the host sees a failed poll, never the crash.
namespace {
T_PDU_ERROR PDU_CALL GiveItemWithBadData(UNUM32, UNUM32, PDU_EVENT_ITEM** item) {
    static PDU_RESULT_DATA result = {};
    static PDU_EVENT_ITEM event = {};
    result.NumDataBytes = 8;
    result.pDataBytes = reinterpret_cast<UNUM8*>(static_cast<uintptr_t>(0x10));
    event.ItemType = PDU_IT_RESULT;
    event.pData = &result;
    *item = &event;
    return PDU_STATUS_NOERROR;
}
std::atomic<int> g_destroyedFakeItems{0};
T_PDU_ERROR PDU_CALL CountDestroyedItem(PDU_ITEM*) {
    ++g_destroyedFakeItems;
    return PDU_STATUS_NOERROR;
}
}  // namespace

TEST_F(DpduTest, AnEventItemThatCannotBeReadIsACrashInTheVendorCall) {
    UseScenario("dpdu_bad_item", "");
    uint32_t linkId = OpenLink(InitAndOpenModule(), "ISO15765");
    const PDUGetEventItemFn realGet = g_backend.api.PDUGetEventItem;
    const PDUDestroyItemFn realDestroy = g_backend.api.PDUDestroyItem;
    g_backend.api.PDUGetEventItem = &GiveItemWithBadData;
    g_backend.api.PDUDestroyItem = &CountDestroyedItem;
    g_destroyedFakeItems = 0;
    std::vector<uint8_t> data;
    std::string error;
    EXPECT_FALSE(Ok(Receive(linkId, &data, 0), &error));
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(g_destroyedFakeItems.load(), 0);  // an item that crashed is not handed back
    g_backend.api.PDUGetEventItem = realGet;
    g_backend.api.PDUDestroyItem = realDestroy;
    EXPECT_NE(Log().find("PDUGetEventItem exception=0x"), std::string::npos);
    ASSERT_TRUE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x3E, 0x00}));
    EXPECT_TRUE(Ok(Receive(linkId, &data, 500), &error)) << error;
    EXPECT_FALSE(Dpdu_IsCommLost());
}

// Each thread remembers the link it used last; a change made on another thread (here the link's
// close, then a new link) must still be seen at once.
TEST_F(DpduTest, ALinkClosedOnAnotherThreadIsGoneForThisOne) {
    UseScenario("dpdu_link_closed_elsewhere", "");
    const uint32_t moduleId = InitAndOpenModule();
    const uint32_t linkId = OpenLink(moduleId, "ISO15765");
    ASSERT_TRUE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x3E, 0x00}));
    std::string closeError = "not run";
    std::thread([&] { Ok(Dpdu_CloseLink(linkId), &closeError); }).join();
    EXPECT_EQ(closeError, "");
    std::string error;
    EXPECT_FALSE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x3E, 0x00}, 100, &error));
    EXPECT_EQ(error, "Dpdu_Send: invalid link handle");
    uint32_t next = 0;
    std::thread([&] { next = OpenLink(moduleId, "ISO15765"); }).join();
    ASSERT_NE(next, 0u);
    EXPECT_TRUE(Send(next, {0x00, 0x00, 0x07, 0xE0, 0x3E, 0x00}));
}

TEST_F(DpduTest, CrashesInStartUpAndTearDownCallsBecome0x50) {
    UseScenario("dpdu_crash_lifecycle",
                "[Faults]\nCrash=PDUConstruct@1,PDUGetModuleIds@1,PDUModuleDisconnect@1,PDUDestruct@1\n");
    uint32_t moduleId = InitAndOpenModule();  // the next option string, the next probe
    ASSERT_NE(moduleId, 0u);
    EXPECT_NE(Log().find("Dpdu_Init: PDUConstruct returned 0x50"), std::string::npos);
    EXPECT_NE(Log().find("PDUGetModuleIds attempt 1 (quick) returned 0x50, modules=0"), std::string::npos);
    std::string error;
    ASSERT_TRUE(Ok(Dpdu_CloseModule(moduleId), &error));
    Dpdu_Shutdown();
    EXPECT_FALSE(Dpdu_IsInitialised());
    const std::string log = Log();
    for (const char* fn : {"PDUConstruct", "PDUGetModuleIds", "PDUModuleDisconnect", "PDUDestruct"})
        EXPECT_NE(log.find(std::string(fn) + " exception=0x"), std::string::npos) << fn;
    EXPECT_NE(log.find("Dpdu_Shutdown: completed"), std::string::npos);
}

TEST_F(DpduTest, ShutdownWhileAnotherThreadPollsTheLink) {
    UseScenario("dpdu_shutdown_race", "");
    uint32_t linkId = OpenLink(InitAndOpenModule(), "CAN");
    std::atomic<bool> done{false};
    std::thread reader([&] {
        std::vector<uint8_t> data;
        std::string error;
        while (!done.load()) Ok(Receive(linkId, &data, 5), &error);
    });
    platform::SleepMs(20);
    Dpdu_Shutdown();
    platform::SleepMs(20);
    done = true;
    reader.join();
    EXPECT_FALSE(Dpdu_IsInitialised());
    std::vector<uint8_t> data;
    std::string error;
    EXPECT_FALSE(Ok(Receive(linkId, &data, 0), &error));
    EXPECT_EQ(error, "Dpdu_Receive: invalid link handle");
}

// ---- item accounting ---------------------------------------------------------------------------------

TEST_F(DpduTest, FullSessionLeavesNoItemBehindAndFreesNoneTwice) {
    UseScenario("dpdu_accounting", "");
    uint32_t moduleId = InitAndOpenModule();
    uint32_t linkId = OpenLink(moduleId, "ISO15765");
    ASSERT_TRUE(Dpdu_SetIso15765Ids(linkId, 0x7E0, 0x7E8));
    ASSERT_TRUE(Send(linkId, {0x00, 0x00, 0x07, 0xE0, 0x3E, 0x00}));
    std::vector<uint8_t> data;
    std::string error;
    EXPECT_TRUE(Ok(Receive(linkId, &data, 500), &error));
    EXPECT_FALSE(Ok(Receive(linkId, &data, 20), &error));
    uint32_t mv = 0;
    EXPECT_TRUE(Ok(Dpdu_ReadVBatt(moduleId, &mv), &error));
    ASSERT_TRUE(Ok(Dpdu_CloseLink(linkId), &error));
    ASSERT_TRUE(Ok(Dpdu_CloseModule(moduleId), &error));
    Dpdu_Shutdown();
    const std::string trace = Trace();
    EXPECT_NE(trace.find("PDUDestruct -> 0x0 liveItems=0"), std::string::npos);
    EXPECT_EQ(trace.find("LEAK"), std::string::npos);
    EXPECT_EQ(trace.find("DOUBLE_FREE"), std::string::npos);
    EXPECT_EQ(trace.find("UNKNOWN_ITEM"), std::string::npos);
    EXPECT_NE(Log().find("Dpdu_Shutdown: completed"), std::string::npos);
}
