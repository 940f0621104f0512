// ISO 15765 over the driver's own ISO-TP on a raw CAN link (the PCMflash raw-CAN transport),
// against the simulated ECUs' ISO-TP: segmentation, their flow control, and reassembly.
#include <algorithm>

#include "tests/support/traffic_fixture.h"

namespace {

const char kRawCanTransport[] = "[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\nForceRawCan=1\n";
const std::string kClearToSend = "00 00 07 E0 30 00 00 00 00 00 00 00";

class SoftwareIsoTp : public TrafficTest {
protected:
    void StartRawCan(const std::string& vciSimIni = "", const std::string& extraIni = "") {
        Start(kRawCanTransport + extraIni, vciSimIni);
        ch = Connect(6);
    }
    size_t FlowControlsSent() const {
        auto sent = SentData(Trace());
        return static_cast<size_t>(std::count(sent.begin(), sent.end(), kClearToSend));
    }
    uint32_t ch = 0;
};

// A UDS write of a data identifier with `length` bytes of payload in all.
j2534::PASSTHRU_MSG WriteDid(uint16_t did, size_t length, uint8_t fill) {
    Bytes data = {0, 0, 7, 0xE0, 0x2E, static_cast<uint8_t>(did >> 8), static_cast<uint8_t>(did)};
    data.resize(4 + length, fill);
    return MakeMsg(6, data, j2534::ISO15765_FRAME_PAD);
}

}  // namespace

TEST_F(SoftwareIsoTp, VinRequestAndItsMultiFrameAnswer) {
    StartRawCan();
    ASSERT_NE(Log().find("ISO15765: SW-ISO-TP enabled over RAWCAN"), std::string::npos);
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 22 F1 90"), 0);
    EXPECT_EQ(SentData(Trace()).back(), "00 00 07 E0 03 22 F1 90 00 00 00 00");
    Bytes data;
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, VinAnswer());
    EXPECT_EQ(FlowControlsSent(), 1u);  // one flow control for the whole message
    // The next message gets its own.
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 22 F1 90"), 0);
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, VinAnswer());
    EXPECT_EQ(FlowControlsSent(), 2u);
}

TEST_F(SoftwareIsoTp, AnotherEcuAnsweringMidMessageIsSkipped) {
    StartRawCan();
    // Both ECUs answer a functional request with a first frame; only the engine is read.
    ASSERT_EQ(Send(ch, 6, "00 00 07 DF 22 F1 90"), 0);
    Bytes data;
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, VinAnswer(0x7E8));
    const std::string trace = Trace();
    EXPECT_LT(trace.find("data=[00 00 07 E9 10 14"), trace.find("data=[00 00 07 E8 21"));
}

TEST_F(SoftwareIsoTp, EcuBlockSizeAndSeparationTimePaceTheFrames) {
    StartRawCan("TraceTimes=1\n[Ecu1]\nName=Engine\nBlockSize=2\nStMin=20\n");
    ASSERT_EQ(Write(ch, {WriteDid(0x1234, 40, 0x5A)}), 0);  // first frame and five consecutive frames
    const std::vector<std::string> sent = SentData(Trace());
    const std::vector<uint64_t> times = SentTimes(Trace());
    ASSERT_EQ(sent.size(), 6u);
    ASSERT_EQ(times.size(), 6u);
    EXPECT_EQ(sent[0].substr(12, 5), "10 28");
    for (size_t i = 2; i < 6; ++i) EXPECT_GE(times[i] - times[i - 1], 20000u) << sent[i];
    Bytes data;
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, HexBytes("00 00 07 E8 6E 12 34"));
}

TEST_F(SoftwareIsoTp, EcuWaitsAndRefusals) {
    StartRawCan("[Ecu1]\nName=Engine\nFlowControlWaits=2\n");
    ASSERT_EQ(Write(ch, {WriteDid(0x1234, 20, 0x11)}), 0);
    Bytes data;
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, HexBytes("00 00 07 E8 6E 12 34"));

    StartRawCan("[Ecu1]\nName=Engine\nFlowControlOverflow=1\n");
    j2534::ULONG n = 1;
    j2534::PASSTHRU_MSG m = WriteDid(0x1234, 20, 0x11);
    EXPECT_EQ(d.WriteMsgs(ch, &m, &n, 100), 0x07);
    EXPECT_EQ(d.LastError(), "ISO15765: SW-ISO-TP ECU flow control OVERFLOW (rx=0x7E8)");
    EXPECT_EQ(SentData(Trace()).size(), 1u);  // nothing after the first frame

    StartRawCan("[Ecu1]\nName=Engine\nFlowControlWaits=30\n");
    EXPECT_EQ(d.WriteMsgs(ch, &m, &n, 100), 0x07);
    EXPECT_EQ(d.LastError(), "ISO15765: SW-ISO-TP ECU kept answering WAIT (rx=0x7E8)");
}

TEST_F(SoftwareIsoTp, LongestMessagesBothWays) {
    StartRawCan("", "[Logging]\nLogEnabled=0\n");
    // 4124 bytes after the CAN id: the 32-bit length form, both ways.
    ASSERT_EQ(Write(ch, {WriteDid(0x1234, 4124, 0xA5)}), 0);
    EXPECT_EQ(SentData(Trace())[0], "00 00 07 E0 10 00 00 00 10 1C 2E 12");
    Bytes data;
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, HexBytes("00 00 07 E8 6E 12 34"));
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 22 12 34"), 0);
    ASSERT_EQ(Read(ch, &data, 3000), 0);
    Bytes expected = HexBytes("00 00 07 E8 62 12 34");
    expected.resize(4128, 0xA5);
    EXPECT_EQ(data, expected);

    // 4095 bytes: the last length of the 12-bit form.
    ASSERT_EQ(Write(ch, {WriteDid(0x1235, 4095, 0x3C)}), 0);
    const auto sent = SentData(Trace());
    const auto first = std::find_if(sent.begin(), sent.end(), [](const std::string& s) { return s.find("00 00 07 E0 1F FF") == 0; });
    EXPECT_NE(first, sent.end());
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, HexBytes("00 00 07 E8 6E 12 35"));
}
