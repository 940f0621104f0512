// The simulated VCI's bus: CAN FD on the CAN resources.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/vcisim/vcisim_fixture.h"

// Named: the test files of a program are compiled together.
namespace bus_test {

using Bytes = std::vector<uint8_t>;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace bus_test

using namespace bus_test;

// ---- CAN FD --------------------------------------------------------------------------------------

TEST(VciSimCanFd, FdComParamsOnTheCanResourcesTheFamiliesMapForFd) {
    VciSimLib v;
    ASSERT_TRUE(v.Load("canfd_resources", nullptr));
    UNUM32 hMod = v.OpenModule();
    auto accepts = [&](UNUM32 rid) {
        UNUM32 hCLL = v.OpenLink(hMod, rid);
        T_PDU_ERROR a = v.SetParam(hMod, hCLL, "CP_CANFDBaudrate", 2000000);
        T_PDU_ERROR b = v.SetParam(hMod, hCLL, "CP_CANFDTxMaxDataLength", 64);
        EXPECT_EQ(a, b) << std::hex << rid;
        EXPECT_EQ(0u, v.DestroyComLogicalLink(hMod, hCLL));
        return a;
    };
    // ISO 15765 and raw CAN, high and low speed, of each family.
    for (UNUM32 rid : {0x300B0001u, 0x300B0003u, 0x300B0025u, 0x300B0027u, 0x30030001u, 0x30030003u, 0x30030025u,
                       0x30030027u, 0x30012001u, 0x30012003u, 0x30012101u, 0x30012103u})
        EXPECT_EQ(0u, accepts(rid)) << std::hex << rid;
    for (UNUM32 rid : {0x300C0001u, 0x30012111u, 0x300B0002u})
        EXPECT_EQ(PDU_ERR_COMPARAM_NOT_SUPPORTED, accepts(rid)) << std::hex << rid;
    // Data phase up to 5 Mbit/s, frame lengths of CAN FD only.
    UNUM32 hCLL = v.OpenLink(hMod, 0x300B0001);
    EXPECT_EQ(0u, v.SetParam(hMod, hCLL, "CP_CANFDBaudrate", 5000000));
    EXPECT_EQ(PDU_ERR_VALUE_NOT_SUPPORTED, v.SetParam(hMod, hCLL, "CP_CANFDBaudrate", 5000001));
    EXPECT_EQ(PDU_ERR_VALUE_NOT_SUPPORTED, v.SetParam(hMod, hCLL, "CP_CANFDTxMaxDataLength", 40));
    EXPECT_EQ(0u, v.Destruct());
    EXPECT_TRUE(Contains(v.TraceText(), "kind=iso15765fd rid=0x300B0001\n"));
    v.Unload();
}

TEST(VciSimCanFd, IsoTpOnAnIso15765LinkIsTimedAtTheDataRate) {
    VciSimLib v;
    ASSERT_TRUE(v.Load("canfd_iso", "Timing=bus\n"));
    UNUM32 hMod = v.OpenModule();
    UNUM32 hCLL = v.OpenLink(hMod, 0x300B0001);
    ASSERT_EQ(0u, v.SetParam(hMod, hCLL, "CP_CANFDTxMaxDataLength", 64));
    Bytes write = HexToBytes("000007E0 2E F1 90");
    for (int i = 0; i < 3997; ++i) write.push_back(uint8_t(i));
    // 4000 bytes in a first frame and 63 consecutive frames of up to 64 bytes, and the ECU's flow
    // control: about 24.7 ms at 500 kbit/s and 2 Mbit/s (classic CAN would take about 150 ms),
    // about 14 ms at 4 Mbit/s.
    auto transfer = [&](UNUM32 dataBaud) {
        EXPECT_EQ(0u, v.SetParam(hMod, hCLL, "CP_CANFDBaudrate", dataBaud));
        UNUM32 before = 0, after = 0, answered = 0;
        EXPECT_EQ(0u, v.GetTimestamp(hMod, &before));
        EXPECT_EQ(0u, v.Send(hMod, hCLL, write, 2000));
        EXPECT_EQ(0u, v.GetTimestamp(hMod, &after));
        Bytes d;
        EXPECT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, hCLL, 2000, &d, nullptr, nullptr, &answered));
        EXPECT_EQ("00 00 07 E8 6E F1 90", BytesToHex(d));
        return std::make_pair(answered - after, answered - before);
    };
    auto at2 = transfer(2000000);
    EXPECT_LE(at2.first, 25500u);
    EXPECT_GE(at2.second, 24000u);
    auto at4 = transfer(4000000);
    EXPECT_LE(at4.first, 15000u);
    EXPECT_GE(at4.second, 13500u);
    // The 4000 bytes read back in one answer.
    ASSERT_EQ(0u, v.Send(hMod, hCLL, HexToBytes("000007E0 22 F1 90")));
    Bytes d;
    ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, hCLL, 2000, &d));
    Bytes expect = HexToBytes("000007E8 62");
    expect.insert(expect.end(), write.begin() + 5, write.end());
    EXPECT_EQ(expect, d);
    EXPECT_EQ(0u, v.Destruct());
    v.Unload();
}

TEST(VciSimCanFd, TheEcuSpeaksIsoTpInTheFormatOfTheRequest) {
    VciSimLib v;
    ASSERT_TRUE(v.Load("canfd_raw", nullptr));
    UNUM32 hMod = v.OpenModule();
    UNUM32 classic = v.OpenLink(hMod, 0x300B0027);
    UNUM32 fd = v.OpenLink(hMod, 0x300B0003);
    ASSERT_EQ(0u, v.SetParam(hMod, fd, "CP_CANFDBaudrate", 2000000));
    Bytes d;
    // The same 8-byte single frame: a classic request gets a classic first frame, a CAN FD one a
    // single frame in the escape form, padded to the frame length 24.
    ASSERT_EQ(0u, v.Send(hMod, classic, HexToBytes("000007E0 03 22 F1 90 00 00 00 00"), 1000, 0));
    ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, classic, 1000, &d));
    EXPECT_EQ("00 00 07 E8 10 14 62 F1 90 57 56 53", BytesToHex(d));
    ASSERT_EQ(0u, v.Send(hMod, fd, HexToBytes("000007E0 03 22 F1 90 00 00 00 00"), 1000, 0));
    ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, fd, 1000, &d));
    EXPECT_EQ(28u, d.size());
    EXPECT_EQ("00 00 07 E8 00 14 62 F1 90 57 56 53", BytesToHex(Bytes(d.begin(), d.begin() + 12)));
    EXPECT_EQ(0xAA, d.back());

    // A 200-byte request in 64-byte frames: first frame, the ECU's flow control, three
    // consecutive frames (the last, of 13 bytes, is sent padded to 16).
    Bytes value;
    for (int i = 0; i < 197; ++i) value.push_back(uint8_t(0x80 + i));
    Bytes request = HexToBytes("2E F1 90");
    request.insert(request.end(), value.begin(), value.end());
    Bytes ff = HexToBytes("000007E0 10 C8");
    ff.insert(ff.end(), request.begin(), request.begin() + 62);
    ASSERT_EQ(0u, v.Send(hMod, fd, ff, 1000, 0));
    ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, fd, 1000, &d));
    EXPECT_EQ("00 00 07 E8 30 00 00 AA AA AA AA AA", BytesToHex(d));
    size_t at = 62;
    for (uint8_t sn = 1; at < request.size(); ++sn) {
        size_t n = std::min<size_t>(63, request.size() - at);
        Bytes cf = HexToBytes("000007E0");
        cf.push_back(uint8_t(0x20 | sn));
        cf.insert(cf.end(), request.begin() + at, request.begin() + at + n);
        at += n;
        ASSERT_EQ(0u, v.Send(hMod, fd, cf, 1000, 0));
    }
    ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, fd, 1000, &d));
    EXPECT_EQ("00 00 07 E8 03 6E F1 90 AA AA AA AA", BytesToHex(d));

    // Its 200-byte answer: a 64-byte first frame, then after the tester's flow control 62 + 63 +
    // 12 bytes in consecutive frames, the last padded to 16.
    ASSERT_EQ(0u, v.Send(hMod, fd, HexToBytes("000007E0 03 22 F1 90"), 1000, 0));
    ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, fd, 1000, &d));
    ASSERT_EQ(68u, d.size());
    EXPECT_EQ("00 00 07 E8 10 C8 62 F1 90 80", BytesToHex(Bytes(d.begin(), d.begin() + 10)));
    Bytes answer(d.begin() + 6, d.end());
    ASSERT_EQ(0u, v.Send(hMod, fd, HexToBytes("000007E0 30 00 00"), 1000, 0));
    std::vector<size_t> sizes;
    for (uint8_t sn = 1; sn <= 3; ++sn) {
        ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, fd, 1000, &d));
        EXPECT_EQ(0x20 | sn, d[4]);
        sizes.push_back(d.size() - 4);
        answer.insert(answer.end(), d.begin() + 5, d.end());
    }
    EXPECT_EQ((std::vector<size_t>{64, 64, 16}), sizes);
    answer.resize(200);
    Bytes expect = HexToBytes("62 F1 90");
    expect.insert(expect.end(), value.begin(), value.end());
    EXPECT_EQ(expect, answer);
    EXPECT_EQ(0u, v.NextEvent(hMod, fd, 10, &d));
    EXPECT_EQ(0u, v.Destruct());
    v.Unload();
}
