// OBD-II through the simulated VCI's D-PDU functions: functional addressing on 11-bit and 29-bit
// CAN and on K-Line, and the scenario keys that set PID values and DTCs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/vcisim/vcisim_fixture.h"

namespace {

// Every result of the link within timeoutMs, hex.
std::vector<std::string> Results(VciSimLib& v, UNUM32 hMod, UNUM32 hCLL, unsigned timeoutMs = 50) {
    std::vector<std::string> out;
    std::vector<uint8_t> d;
    while (v.NextEvent(hMod, hCLL, timeoutMs, &d) == PDU_IT_RESULT) out.push_back(BytesToHex(d));
    return out;
}

const char kObdVin[] = "57 56 53 49 4D 30 30 30 30 30 30 30 30 30 30 30 31";

}  // namespace

TEST(VciSimObd, FunctionalRequestsOnCanGetOneAnswerPerEcu) {
    VciSimLib v;
    ASSERT_TRUE(v.Load("obd_can", nullptr));
    UNUM32 hMod = v.OpenModule();
    UNUM32 iso = v.OpenLink(hMod, 0x300B0001);
    // The 29-bit pair, with an ISO-TP PCI and padding left in front of the request.
    ASSERT_EQ(0u, v.Send(hMod, iso, HexToBytes("18 DB 33 F1 02 09 02 55 55 55 55 55")));
    EXPECT_EQ(Results(v, hMod, iso), (std::vector<std::string>{std::string("18 DA F1 10 49 02 01 ") + kObdVin,
                                                                std::string("18 DA F1 18 49 02 01 ") + kObdVin}));
    // Two bytes 01 XX are service 01 even where XX is also a service id (20, 11: ECU reset).
    ASSERT_EQ(0u, v.Send(hMod, iso, HexToBytes("00 00 07 DF 01 20")));
    EXPECT_EQ(Results(v, hMod, iso), (std::vector<std::string>{"00 00 07 E8 41 20 00 02 00 01"}));
    ASSERT_EQ(0u, v.Send(hMod, iso, HexToBytes("00 00 07 E0 01 11")));
    std::vector<std::string> throttle = Results(v, hMod, iso);
    ASSERT_EQ(throttle.size(), 1u);
    EXPECT_EQ(throttle[0].substr(0, 17), "00 00 07 E8 41 11");
    // A freeze-frame request of PID 04 is not taken for a PCI in front of service 04.
    ASSERT_EQ(0u, v.Send(hMod, iso, HexToBytes("00 00 07 E0 02 04 00")));
    std::vector<std::string> r = Results(v, hMod, iso);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].substr(0, 20), "00 00 07 E8 42 04 00");
    ASSERT_EQ(0u, v.Send(hMod, iso, HexToBytes("00 00 07 E0 03")));
    EXPECT_EQ(Results(v, hMod, iso), (std::vector<std::string>{"00 00 07 E8 43 02 01 23 C1 41"}));

    // Raw CAN: each ECU segments its own answer and waits for the tester's flow control.
    UNUM32 raw = v.OpenLink(hMod, 0x300B0003);
    ASSERT_EQ(0u, v.Send(hMod, raw, HexToBytes("18 DB 33 F1 02 09 02 00 00 00 00 00"), 1000, 0));
    EXPECT_EQ(Results(v, hMod, raw), (std::vector<std::string>{"18 DA F1 10 10 14 49 02 01 57 56 53",
                                                                "18 DA F1 18 10 14 49 02 01 57 56 53"}));
    ASSERT_EQ(0u, v.Send(hMod, raw, HexToBytes("18 DA 18 F1 30 00 00 00 00 00 00 00"), 1000, 0));
    EXPECT_EQ(Results(v, hMod, raw), (std::vector<std::string>{"18 DA F1 18 21 49 4D 30 30 30 30 30",
                                                                "18 DA F1 18 22 30 30 30 30 30 30 31"}));
    // An unsupported PID: silence towards the functional id, 7F 01 12 on the physical one.
    ASSERT_EQ(0u, v.Send(hMod, raw, HexToBytes("00 00 07 DF 02 01 0A 00 00 00 00 00"), 1000, 0));
    EXPECT_TRUE(Results(v, hMod, raw).empty());
    ASSERT_EQ(0u, v.Send(hMod, raw, HexToBytes("00 00 07 E1 02 01 0C 00 00 00 00 00"), 1000, 0));
    EXPECT_EQ(Results(v, hMod, raw), (std::vector<std::string>{"00 00 07 E9 03 7F 01 12 AA AA AA AA"}));
    EXPECT_EQ(0u, v.Destruct());
    v.Unload();
}

TEST(VciSimObd, KLineObdHeadersAndScenarioKeys) {
    VciSimLib v;
    ASSERT_TRUE(v.Load("obd_kline",
                       "[Ecu1]\nPid.0C=2500\nPid.0D=88\nPid.05=hex:7B\nPid.0A=hex:12\nPid.42=13.95\n"
                       "Dtcs=0x030000:0x08,0x017100:0x04\nPermanentDtcs=0x030000\nCalibrationId=CAL-TEST\n"
                       "Pid.20=5\nPid.0D=400\nObdServices=01,05\n"
                       "[Ecu2]\nName=Quiet\nRequestId=0x7E2\nResponseId=0x7EA\nObdServices=\n"
                       "[Ecu3]\nName=KLineEngine\nBus=kline\n"
                       "[Ecu4]\nName=KLineGearbox\nBus=kline\nKLineAddress=0x18\nObdServices=01\nObdPids=0D\n"));
    UNUM32 hMod = v.OpenModule();
    UNUM32 iso = v.OpenLink(hMod, 0x300B0001);
    ASSERT_EQ(0u, v.Send(hMod, iso, HexToBytes("00 00 07 DF 01 0C 0D 05 0A 42")));
    EXPECT_EQ(Results(v, hMod, iso), (std::vector<std::string>{"00 00 07 E8 41 0C 27 10 0D 58 05 7B 0A 12 42 36 7E"}));
    ASSERT_EQ(0u, v.Send(hMod, iso, HexToBytes("00 00 07 E0 01 00")));
    EXPECT_EQ(Results(v, hMod, iso), (std::vector<std::string>{"00 00 07 E8 41 00 98 5A 80 11"}));  // with 0A
    const char* const expected[][2] = {
        {"03", "43 01 03 00"},  // P0300 only: P0171 is pending, not confirmed
        {"07", "47 01 01 71"},
        {"0A", "4A 01 03 00"},
        {"09 04", "49 04 01 43 41 4C 2D 54 45 53 54 00 00 00 00 00 00 00 00"},
    };
    for (const auto& e : expected) {
        ASSERT_EQ(0u, v.Send(hMod, iso, HexToBytes((std::string("00 00 07 E0 ") + e[0]).c_str())));
        EXPECT_EQ(Results(v, hMod, iso), (std::vector<std::string>{std::string("00 00 07 E8 ") + e[1]})) << e[0];
    }
    ASSERT_EQ(0u, v.Send(hMod, iso, HexToBytes("00 00 07 E2 01 00")));
    EXPECT_EQ(Results(v, hMod, iso), (std::vector<std::string>{"00 00 07 EA 7F 01 11"}));  // no OBD services

    // K-Line (ISO 14230-4): a functional request reaches both ECUs; each answers from its address.
    UNUM32 kline = v.OpenLink(hMod, 0x300B0216);
    ASSERT_EQ(0u, v.Send(hMod, kline, HexToBytes("C2 33 F1 01 0D F4")));
    std::vector<std::string> r = Results(v, hMod, kline);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].substr(0, 14), "83 F1 10 41 0D");
    EXPECT_EQ(r[1].substr(0, 14), "83 F1 18 41 0D");
    for (const std::string& m : r) {  // each with its checksum
        std::vector<uint8_t> b = HexToBytes(m.c_str());
        unsigned sum = 0;
        for (size_t i = 0; i + 1 < b.size(); ++i) sum += b[i];
        EXPECT_EQ(sum & 0xFF, b.back()) << m;
    }
    ASSERT_EQ(0u, v.Send(hMod, kline, HexToBytes("C2 33 F1 09 02")));
    EXPECT_EQ(Results(v, hMod, kline),
              (std::vector<std::string>{"87 F1 10 49 02 01 00 00 00 57", "87 F1 10 49 02 02 56 53 49 4D",
                                        "87 F1 10 49 02 03 30 30 30 30", "87 F1 10 49 02 04 30 30 30 30",
                                        "87 F1 10 49 02 05 30 30 30 31"}));
    ASSERT_EQ(0u, v.Send(hMod, kline, HexToBytes("82 18 F1 01 0C")));
    EXPECT_EQ(Results(v, hMod, kline), (std::vector<std::string>{"83 F1 18 7F 01 12"}));
    EXPECT_EQ(0u, v.Destruct());
    const std::string trace = v.TraceText();
    EXPECT_NE(trace.find("# scenario error: bad PID key pid.20\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("# scenario error: bad value for pid.0d: '400'\n"), std::string::npos);
    EXPECT_NE(trace.find("# scenario error: bad value for obdservices: '05'\n"), std::string::npos);
    v.Unload();
}
