// CAN FD through the driver as a host uses it: ISO 15765 on CAN FD (protocols 9 and 16) over the
// VCI's ISO-TP, and raw CAN FD (15) carrying the host's own ISO-TP, on the simulated VCI's CAN
// resources that run CAN FD. The Orvex family enables CAN FD (2 Mbit/s, frames of 64 bytes).
#include "tests/support/traffic_fixture.h"

namespace {

class CanFd : public TrafficTest {};

// DID 0x1234 written with a value that makes the request `length` bytes long.
Bytes DidValue(size_t length) {
    Bytes v;
    for (size_t i = 3; i < length; ++i) v.push_back(static_cast<uint8_t>(i * 7));
    return v;
}

Bytes Join(const std::string& hex, const Bytes& tail) {
    Bytes b = HexBytes(hex);
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

}  // namespace

TEST_F(CanFd, Iso15765OnCanFdCarriesUdsThroughTheVcisIsoTp) {
    Start("[Logging]\nLogEnabled=1\n");
    const Bytes value = DidValue(4000);
    for (uint32_t protocol : {9u, 16u}) {
        uint32_t ch = Connect(protocol);
        ASSERT_NE(ch, 0u);
        ASSERT_EQ(Send(ch, protocol, "00 00 07 E0 22 F1 90"), 0);
        Bytes data;
        ASSERT_EQ(Read(ch, &data), 0);
        EXPECT_EQ(data, VinAnswer());
        // 4,000 bytes each way: a data identifier written and read back.
        ASSERT_EQ(Write(ch, {MakeMsg(protocol, Join("00 00 07 E0 2E 12 34", value), j2534::ISO15765_FRAME_PAD)}), 0);
        ASSERT_EQ(Read(ch, &data), 0);
        EXPECT_EQ(data, HexBytes("00 00 07 E8 6E 12 34"));
        ASSERT_EQ(Send(ch, protocol, "00 00 07 E0 22 12 34"), 0);
        ASSERT_EQ(Read(ch, &data, 2000), 0);
        EXPECT_EQ(data, Join("00 00 07 E8 62 12 34", value)) << protocol;
        EXPECT_EQ(d.Disconnect(ch), 0);
    }
    // Both links ran CAN FD on the family's ISO 15765 resource for it.
    const std::string trace = Trace();
    EXPECT_EQ(CountOf(trace, "kind=iso15765fd rid=0x300B0001\n"), 2u);
    EXPECT_EQ(CountOf(trace, "name=CP_CANFDBaudrate type=0x105 value=2000000 -> 0x0\n"), 2u);
    EXPECT_EQ(CountOf(trace, "name=CP_CANFDTxMaxDataLength type=0x105 value=64 -> 0x0\n"), 2u);
    EXPECT_EQ(CountOf(Log(), "Dpdu_OpenLink: CAN-FD ComParams set (DataBaud=2000000, TxMaxLen=64)\r\n"), 2u);
}

TEST_F(CanFd, RawCanFdCarriesTheHostsOwnIsoTp) {
    Start("[Logging]\nLogEnabled=0\n");
    uint32_t ch = Connect(15);
    ASSERT_NE(ch, 0u);
    Bytes data;
    // Every frame of the channel is a CAN FD frame: the ECU answers in one single frame (escape
    // form, padded to the frame length 24).
    ASSERT_EQ(Send(ch, 15, "00 00 07 E0 03 22 F1 90 00 00 00 00", 0), 0);
    ASSERT_EQ(Read(ch, &data), 0);
    Bytes vin = VinAnswer();
    Bytes expected = Join("00 00 07 E8 00 14", Bytes(vin.begin() + 4, vin.end()));
    expected.resize(4 + 24, 0xAA);
    EXPECT_EQ(data, expected);

    // 4,000 bytes to the ECU: a first frame of 64 bytes, its flow control, consecutive frames of
    // up to 64 bytes (all in one write).
    const Bytes request = Join("2E 12 34", DidValue(4000));
    std::vector<j2534::PASSTHRU_MSG> frames = {
        MakeMsg(15, Join("00 00 07 E0 1F A0", Bytes(request.begin(), request.begin() + 62)))};
    ASSERT_EQ(Write(ch, frames), 0);
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, HexBytes("00 00 07 E8 30 00 00 AA AA AA AA AA"));
    frames.clear();
    uint8_t sn = 1;
    for (size_t at = 62; at < request.size(); at += 63, ++sn) {
        Bytes cf = HexBytes("00 00 07 E0");
        cf.push_back(static_cast<uint8_t>(0x20 | (sn & 0x0F)));
        cf.insert(cf.end(), request.begin() + at, request.begin() + std::min(at + 63, request.size()));
        frames.push_back(MakeMsg(15, cf));
    }
    EXPECT_EQ(frames.size(), 63u);
    j2534::ULONG written = 0;
    ASSERT_EQ(Write(ch, frames, &written), 0);
    EXPECT_EQ(written, 63u);
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, HexBytes("00 00 07 E8 03 6E 12 34 AA AA AA AA"));

    // And back: a 64-byte first frame, the host's flow control, 63 consecutive frames.
    ASSERT_EQ(Send(ch, 15, "00 00 07 E0 03 22 12 34", 0), 0);
    ASSERT_EQ(Read(ch, &data), 0);
    ASSERT_EQ(data.size(), 68u);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 9), HexBytes("00 00 07 E8 1F A0 62 12 34"));
    Bytes answer(data.begin() + 6, data.end());
    ASSERT_EQ(Send(ch, 15, "00 00 07 E0 30 00 00", 0), 0);
    for (sn = 1; answer.size() < 4000; ++sn) {
        ASSERT_EQ(Read(ch, &data), 0) << answer.size();
        ASSERT_GE(data.size(), 6u);
        EXPECT_EQ(data[4], 0x20 | (sn & 0x0F));
        answer.insert(answer.end(), data.begin() + 5, data.end());
    }
    answer.resize(4000);
    EXPECT_EQ(answer, Join("62 12 34", DidValue(4000)));
    EXPECT_EQ(Read(ch, &data, 0), j2534::ERR_BUFFER_EMPTY);
}

// The raw-CAN transport of PCMflash, which puts protocol 6 on the driver's software ISO-TP, leaves
// ISO 15765 on CAN FD with the VCI's ISO-TP: its "CanFDHS" link name names no ISO 15765 CAN FD
// link and becomes "ISO15765FDHS" again.
TEST_F(CanFd, PcmflashRawCanTransportKeepsTheVcisIsoTp) {
    Start("[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\nForceRawCan=1\n");
    uint32_t ch = Connect(9);
    ASSERT_NE(ch, 0u);
    ASSERT_EQ(Send(ch, 9, "00 00 07 E0 22 F1 90"), 0);
    Bytes data;
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, VinAnswer());
    EXPECT_NE(Log().find("PassThruConnect: using logical link 'ISO15765FDHS'\r\n"), std::string::npos);
    EXPECT_NE(Trace().find("kind=iso15765fd rid=0x300B0001\n"), std::string::npos);
}
