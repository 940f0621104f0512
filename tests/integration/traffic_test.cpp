// Requests and answers through PassThruWriteMsgs and PassThruReadMsgs on links where the VCI
// does ISO-TP itself, per host profile, with the bytes the simulated VCI was given.
#include <chrono>
#include <memory>

#include "tests/support/traffic_fixture.h"

namespace {
// The VCI takes CAN ids as ComParams and the driver translates payloads (no raw mode).
const char kNoRawMode[] = "[ComParams]\nReject=CP_RawMode\n";

class Traffic : public TrafficTest {};
}  // namespace

TEST_F(Traffic, VinRequestAndItsAnswer) {
    Start("");
    uint32_t ch = Connect(6);
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 22 F1 90"), 0);
    EXPECT_NE(Log().find("PassThruWriteMsgs: proto=0x6 txFlags=0x40 dataSize=7 data=00 00 07 E0 22 F1 90\r\n"),
              std::string::npos);
    EXPECT_EQ(SentData(Trace()).back(), "00 00 07 E0 22 F1 90");

    // A host offering ten records gets one message back, and the count says so.
    std::vector<j2534::PASSTHRU_MSG> ten(10);
    j2534::ULONG n = 10;
    ASSERT_EQ(d.ReadMsgs(ch, ten.data(), &n, 500), 0);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(DataOf(ten[0]), VinAnswer());
    EXPECT_EQ(ten[0].ProtocolID, 6u);
    EXPECT_EQ(ten[0].RxStatus, 0u);

    Bytes data;
    EXPECT_EQ(Read(ch, &data, 0), 0x10);  // nothing left: buffer empty at once
    EXPECT_EQ(Read(ch, &data, 30), 0x09);  // or a time-out after waiting
    EXPECT_TRUE(data.empty());
}

TEST_F(Traffic, GenericProfileSendsThePayloadOnly) {
    Start("", kNoRawMode);
    uint32_t ch = Connect(6);
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 02 10 03"), 0);
    EXPECT_EQ(SentData(Trace()).back(), "02 10 03");  // UDS service known: the PCI stays
    Bytes data;
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, HexBytes("00 00 07 E8 50 03 00 32 01 F4"));  // the response id put back
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 02 AA 03"), 0);
    EXPECT_EQ(SentData(Trace()).back(), "AA 03");
}

TEST_F(Traffic, VwOdisKeepsTheFullFrame) {
    Start("", kNoRawMode, "TRX4820_J2534");
    uint32_t ch = Connect(6);
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 02 10 03"), 0);
    const std::string log = Log();
    EXPECT_NE(log.find("ISO15765: VW/ODIS backend -> keeping full frame (no payload-only translation)"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_Send: bytes=7 data=00 00 07 E0 02 10 03\r\n"), std::string::npos);
    Bytes data;
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, HexBytes("00 00 07 E8 50 03 00 32 01 F4"));
}

TEST_F(Traffic, DasSynthesisesSingleFramesAndWakesTheEcuOnce) {
    Start("[Profile]\nMode=DAS\n[DAS]\nInjectDelayMs=0\nTryIso15765ComParams=1\n", kNoRawMode);
    uint32_t ch = Connect(6);
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 22 F1 90"), 0);
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 03 22 F1 90"), 0);
    auto sent = SentData(Trace());
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0], "00 00 07 E0 02 10 03");  // the wake-up, at connect only
    EXPECT_EQ(sent[1], "00 00 07 E0 02 3E 00");
    EXPECT_EQ(sent[2], "00 00 07 E0 03 22 F1 90 00 00 00 00");
    EXPECT_EQ(sent[3], "00 00 07 E0 03 22 F1 90");  // its PCI present: as it is
    Bytes data;
    do {  // the wake-up's answers come first
        ASSERT_EQ(Read(ch, &data), 0);
    } while (data.size() > 4 && data[4] != 0x62);
    EXPECT_EQ(data, VinAnswer());
}

TEST_F(Traffic, DasRewritesFunctionalRequestsInTheHostsRecord) {
    Start("[Profile]\nMode=DAS\n[DAS]\nInjectDelayMs=0\nInjectSessionStart=0\nInjectTesterPresent=0\nPairs=0x7E1:0x7E9\n");
    uint32_t ch = Connect(6);
    j2534::PASSTHRU_MSG m = MakeMsg(6, HexBytes("00 00 07 DF 22 F1 90"), 0x40);
    j2534::ULONG n = 1;
    ASSERT_EQ(d.WriteMsgs(ch, &m, &n, 100), 0);
    EXPECT_EQ(DataOf(m), HexBytes("00 00 07 E1 22 F1 90"));
    EXPECT_EQ(SentData(Trace()).back(), "00 00 07 E1 22 F1 90");
    Bytes data;
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, VinAnswer(0x7E9));
}

TEST_F(Traffic, XentryResponseFiltersKeepOtherEcusOut) {
    Start("[Profile]\nMode=XENTRY\n",
          "[Ecu1]\nName=Engine\n[Ecu2]\nName=Gateway\nRequestId=0x6F0\nResponseId=0x6F8\nFunctionalId=0\n");
    uint32_t ch = Connect(6);
    ASSERT_NE(Log().find("XENTRY: installed ISO15765 response PASS filters"), std::string::npos);
    ASSERT_EQ(Send(ch, 6, "00 00 06 F0 22 F1 90"), 0);
    Bytes data;
    EXPECT_EQ(Read(ch, &data, 200), 0x09);  // answered from 0x6F8: no filter lets it through
    EXPECT_NE(Trace().find("data=[00 00 06 F8 62 F1 90"), std::string::npos);
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 22 F1 90"), 0);
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, VinAnswer());
}

TEST_F(Traffic, CanChannelCarriesFrames) {
    Start("");
    uint32_t ch = Connect(5);
    ASSERT_EQ(Send(ch, 5, "00 00 07 E0 02 3E 00", 0), 0);
    Bytes data;
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, HexBytes("00 00 07 E8 02 7E 00 AA AA AA AA AA"));
}

// An ISO 15765 channel on a raw link where the driver does no ISO-TP (VW/ODIS): the host gets
// frames and the driver answers each first frame with a flow control of its own.
TEST_F(Traffic, AutomaticFlowControlAnswersEveryFirstFrame) {
    Start("[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\nForceRawCan=1\n", "", "TRX4820_J2534");
    uint32_t ch = Connect(6);
    auto flowControls = [&] {
        size_t n = 0;
        for (const std::string& s : SentData(Trace())) n += s == "00 00 07 E0 30 00 00";
        return n;
    };
    Bytes data;
    for (int round = 1; round <= 2; ++round) {
        ASSERT_EQ(Send(ch, 6, "00 00 07 E0 03 22 F1 90"), 0);
        ASSERT_EQ(Read(ch, &data), 0);
        EXPECT_EQ(data, HexBytes("00 00 07 E8 10 14 62 F1 90 57 56 53"));
        EXPECT_EQ(flowControls(), size_t(round));  // the driver's own frame did not switch it off
        ASSERT_EQ(Read(ch, &data), 0);
        EXPECT_EQ(data[4], 0x21);
        ASSERT_EQ(Read(ch, &data), 0);
        EXPECT_EQ(data[4], 0x22);
    }
    EXPECT_NE(Log().find("ISO15765: Auto-FC sent (txId=7E0, rxId=7E8)"), std::string::npos);

    // A first frame that comes again before any consecutive frame of it is answered once: two
    // requests in a row leave two first frames waiting, and one flow control serves both.
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 03 22 F1 90"), 0);
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 03 22 F1 90"), 0);
    auto first = std::chrono::steady_clock::now();
    ASSERT_EQ(Read(ch, &data), 0);
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data[4], 0x10);
    if (std::chrono::steady_clock::now() - first < std::chrono::milliseconds(50)) {
        EXPECT_EQ(flowControls(), 3u);
    }
    for (uint8_t cf : {0x21, 0x22}) {
        ASSERT_EQ(Read(ch, &data), 0);
        EXPECT_EQ(data[4], cf);
    }

    // The application's own flow control switches the driver's off for good.
    ASSERT_EQ(Send(ch, 6, "00 00 07 E1 30 00 00"), 0);
    ASSERT_EQ(Send(ch, 6, "00 00 07 E1 03 22 F1 90"), 0);
    const size_t before = flowControls();
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data[4], 0x10);
    EXPECT_EQ(flowControls(), before);
}

TEST_F(Traffic, NoEcuModeSuppressesAndTimesOutCleanly) {
    Start("[Bench]\nNoEcuMode=1\nNoEcuTimeoutMs=200\n", "", "TRX4820_J2534");
    uint32_t ch = Connect(6);
    j2534::ULONG n = 0;
    ASSERT_EQ(Write(ch, {MakeMsg(6, HexBytes("00 00 07 E0 3E 00")), MakeMsg(6, HexBytes("00 00 07 E0 3E 00"))}, &n), 0);
    EXPECT_EQ(n, 2u);
    EXPECT_NE(Log().find("NoEcuMode: DPDU TX suppressed (VW/ODIS) count=2\r\n"), std::string::npos);
    EXPECT_TRUE(SentData(Trace()).empty());

    Bytes data;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(ch, &data, 5000), 0);  // no message, no error, after the NoEcu time-out
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(data.empty());
    EXPECT_GE(waited, std::chrono::milliseconds(180));
    EXPECT_LT(waited, std::chrono::milliseconds(5000));
    EXPECT_EQ(Read(ch, &data, 0), 0);
}

TEST_F(Traffic, SeveralRecordsInOneCall) {
    Start("", "[Faults]\nError=PDUStartComPrimitive@4=0x50\n");
    uint32_t ch = Connect(6);
    j2534::ULONG n = 0;
    // An empty record is skipped, not counted.
    ASSERT_EQ(Write(ch, {MakeMsg(6, HexBytes("00 00 07 E0 3E 00")), MakeMsg(6, {}), MakeMsg(6, HexBytes("00 00 07 E0 3E 00"))},
                    &n),
              0);
    EXPECT_EQ(n, 2u);
    // The second send of the next call fails: the first stays sent and is counted.
    EXPECT_EQ(Write(ch, {MakeMsg(6, HexBytes("00 00 07 E0 3E 00")), MakeMsg(6, HexBytes("00 00 07 E0 22 F1 90"))}, &n),
              0x07);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(d.LastError(), std::string("PDUStartComPrimitive(SENDRECV-sendonly) failed with error 0x50 | tx[0..7]=00 "
                                         "00 07 E0 22 F1 90").substr(0, 79));
    // Nothing but empty records: nothing sent.
    EXPECT_EQ(Write(ch, {MakeMsg(6, {})}, &n), 0x07);
    EXPECT_EQ(n, 0u);
}

TEST_F(Traffic, CommunicationLostWhileReadingRunsTheBackOff) {
    // The second poll of the VCI finds it gone (counted afresh each time the library is loaded).
    Start("", "[Faults]\nError=PDUGetEventItem@2=0x11\n");
    uint32_t ch = Connect(6);
    Bytes data;
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 22 F1 90"), 0);
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(Read(ch, &data, 100), 0x07);
    EXPECT_EQ(d.LastError(), "Dpdu_Receive: comm lost");
    const std::string log = Log();
    EXPECT_NE(log.find("CommLost: backoff 1000ms at PassThruReadMsgs\r\n"), std::string::npos);
    EXPECT_NE(log.find("Dpdu_Shutdown: tearing down D-PDU stack"), std::string::npos);
    // Until a connect brings the backend up again, writes say so.
    EXPECT_EQ(Send(ch, 6, "00 00 07 E0 3E 00"), 0x07);
    EXPECT_EQ(d.LastError(), "VCI communication lost");
    uint32_t again = Connect(6);
    ASSERT_EQ(Send(again, 6, "00 00 07 E0 22 F1 90"), 0);
    ASSERT_EQ(Read(again, &data), 0);
    EXPECT_EQ(data, VinAnswer());
}

TEST_F(Traffic, BadInputIsRefusedWithoutTouchingMore) {
    Start("");
    uint32_t ch = Connect(6);
    j2534::PASSTHRU_MSG m = MakeMsg(6, HexBytes("00 00 07 E0 3E 00"));
    j2534::ULONG n = 1;
    EXPECT_EQ(d.WriteMsgs(ch, nullptr, &n, 0), 0x04);
    EXPECT_EQ(d.WriteMsgs(ch, &m, nullptr, 0), 0x04);
    EXPECT_EQ(d.ReadMsgs(ch, nullptr, &n, 0), 0x04);
    EXPECT_EQ(d.ReadMsgs(ch, &m, nullptr, 0), 0x04);
    n = 0;
    EXPECT_EQ(d.WriteMsgs(ch, &m, &n, 0), 0x04);
    EXPECT_EQ(d.ReadMsgs(ch, &m, &n, 0), 0x04);
    // A count of 0 hands over no record, and none is read (the sanitizer build would see it).
    std::unique_ptr<j2534::PASSTHRU_MSG[]> none(new j2534::PASSTHRU_MSG[0]);
    EXPECT_EQ(d.WriteMsgs(ch, none.get(), &n, 0), 0x04);
    n = 1;
    EXPECT_EQ(d.WriteMsgs(ch, reinterpret_cast<j2534::PASSTHRU_MSG*>(uintptr_t(0x8000)), &n, 0), 0x04);
    EXPECT_EQ(d.LastError(), "PassThruWriteMsgs: pMsg pointer too small (ABI mismatch)");
    // A count the driver cannot read, in the first page that no system maps, next to a good record.
    j2534::ULONG* unreadable = reinterpret_cast<j2534::ULONG*>(uintptr_t(0x100));
    EXPECT_EQ(d.WriteMsgs(ch, &m, unreadable, 0), 0x0A);
    EXPECT_EQ(d.LastError(), "Invalid message count pointer");
    EXPECT_EQ(d.ReadMsgs(ch, &m, unreadable, 0), 0x0A);
    EXPECT_EQ(d.LastError(), "Invalid message count pointer");

    m.DataSize = 4129;
    n = 1;
    EXPECT_EQ(d.WriteMsgs(ch, &m, &n, 0), 0x0A);
    EXPECT_EQ(d.LastError(), "Invalid message: DataSize exceeds buffer");
    m.DataSize = 6;
    m.ProtocolID = 5;
    EXPECT_EQ(d.WriteMsgs(ch, &m, &n, 0), 0x15);
    EXPECT_EQ(d.LastError(), "Invalid message: ProtocolID does not match the channel");

    uint32_t can = Connect(5);
    j2534::PASSTHRU_MSG shortFrame = MakeMsg(5, {0x07, 0xE0});
    EXPECT_EQ(d.WriteMsgs(can, &shortFrame, &n, 0), 0x0A);
    EXPECT_EQ(d.LastError(), "Invalid message: DataSize below the CAN-ID header");
    EXPECT_EQ(n, 1u);  // these refusals leave the count alone

    ASSERT_EQ(d.Disconnect(can), 0);
    m.ProtocolID = 5;
    EXPECT_EQ(d.WriteMsgs(can, &m, &n, 0), 0x02);
    EXPECT_EQ(d.ReadMsgs(can, &m, &n, 0), 0x02);
    EXPECT_TRUE(SentData(Trace()).empty());

    d.Close(dev);
    dev = 0;
    EXPECT_EQ(d.WriteMsgs(ch, &m, &n, 0), 0x08);
    EXPECT_EQ(d.ReadMsgs(ch, &m, &n, 0), 0x08);
    EXPECT_EQ(d.LastError(), "Device not open.");
}
