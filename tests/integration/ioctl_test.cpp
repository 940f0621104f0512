// PassThruIoctl as hosts call it: configuration lists (and single SCONFIGs in their place), the
// battery voltage with and without a VCI, the ignition state the control panel forces, the
// K-Line initialisations, the programming voltage, and bad pointers.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "tests/support/traffic_fixture.h"

namespace {

using Params = std::vector<j2534::SCONFIG>;

class Ioctls : public TrafficTest {
protected:
    // GET_CONFIG or SET_CONFIG of a list; the answered list in *params.
    int32_t Config(j2534::ULONG ch, uint32_t ioctl, Params* params) {
        j2534::SCONFIG_LIST list{static_cast<uint32_t>(params->size()), params->data()};
        return d.Ioctl(ch, ioctl, &list, nullptr);
    }
    uint32_t Get(j2534::ULONG ch, uint32_t parameter) {
        Params p = {{parameter, 0xDEADu}};
        EXPECT_EQ(Config(ch, j2534::GET_CONFIG, &p), 0);
        return p[0].Value;
    }
    uint32_t Vbatt() {
        j2534::ULONG mv = 0;
        EXPECT_EQ(d.Ioctl(0, j2534::READ_VBATT, nullptr, &mv), 0);
        return mv;
    }
    uint32_t Ignition() {
        j2534::ULONG on = 7;
        EXPECT_EQ(d.Ioctl(0, j2534::IGNITION_SENSE, nullptr, &on), 0);
        EXPECT_EQ(d.LastError(), "OK");
        return on;
    }
    std::string Ini() const { return JoinPath(d.dir, "Orvex_J2534.ini"); }
};

}  // namespace

TEST_F(Ioctls, ConfigValuesOfTheChannel) {
    Start("");
    j2534::ULONG ch = 0;
    ASSERT_EQ(d.Connect(dev, 5, 0, 0, &ch), 0);  // baud 0 becomes 500000
    Params p = {{j2534::DATA_RATE, 0}, {j2534::LOOPBACK, 9}, {0x20, 9}, {j2534::IGNITION_SENSE, 9}};
    ASSERT_EQ(Config(ch, j2534::GET_CONFIG, &p), 0);
    EXPECT_EQ(d.LastError(), "OK");
    EXPECT_EQ(p[0].Value, 500000u);
    EXPECT_EQ(p[1].Value, 0u);
    EXPECT_EQ(p[2].Value, 0u);
    EXPECT_EQ(p[3].Value, 1u);

    p = {{j2534::DATA_RATE, 250000}, {j2534::LOOPBACK, 1}, {0x1234, 77}};
    ASSERT_EQ(Config(ch, j2534::SET_CONFIG, &p), 0);
    EXPECT_EQ(p[2].Value, 77u);
    EXPECT_EQ(Get(ch, j2534::DATA_RATE), 250000u);
    EXPECT_EQ(Get(ch, j2534::LOOPBACK), 0u);  // the driver never echoes its sends
    EXPECT_EQ(Get(ch, 0x1234), 77u);
    // Without a channel nothing is stored.
    p = {{0x1234, 5}};
    ASSERT_EQ(Config(ch + 9, j2534::SET_CONFIG, &p), 0);
    EXPECT_EQ(Get(ch, 0x1234), 77u);
    EXPECT_EQ(Get(ch + 9, j2534::DATA_RATE), 0u);
    EXPECT_EQ(Get(ch + 9, 0x1234), 0u);
}

TEST_F(Ioctls, ListsAndSingleConfigsInTheirPlace) {
    Start("");
    const uint32_t ch = Connect(5);
    // Counts up to 256 are lists; a list of none is refused.
    Params many(256, {j2534::DATA_RATE, 0});
    ASSERT_EQ(Config(ch, j2534::GET_CONFIG, &many), 0);
    EXPECT_EQ(many[255].Value, 500000u);
    Params none(1, {j2534::DATA_RATE, 3});
    j2534::SCONFIG_LIST empty{0, none.data()};
    EXPECT_EQ(d.Ioctl(ch, j2534::GET_CONFIG, &empty, nullptr), 0x04);
    EXPECT_EQ(none[0].Value, 3u);

    // Above 256 the first two words are one SCONFIG: a SET of 300 entries stores parameter 300
    // with the word after the count (on a 32-bit host the array's address), and answers the
    // output's two words.
    Params big(300, {0x55, 0x66});
    j2534::SCONFIG_LIST list{300, big.data()};
    j2534::SCONFIG answer{};
    ASSERT_EQ(d.Ioctl(ch, j2534::SET_CONFIG, &list, &answer), 0);
    j2534::ULONG second = 0;  // the value word of an SCONFIG read where the list lies
    std::memcpy(&second, reinterpret_cast<const unsigned char*>(&list) + sizeof second, sizeof second);
    const uint32_t lowWord = static_cast<uint32_t>(second);
    EXPECT_EQ(answer.Parameter, 300u);
    EXPECT_EQ(answer.Value, lowWord);
    EXPECT_EQ(big[0].Value, 0x66u);  // the list itself is not touched
    EXPECT_EQ(Get(ch, 300), lowWord);
    // A GET that way answers in the first word, without the stored values.
    list.NumOfParams = 257;
    j2534::ULONG word = 9;
    ASSERT_EQ(d.Ioctl(ch, j2534::GET_CONFIG, &list, &word), 0);
    EXPECT_EQ(word, 0u);
    // So does a "pointer" below 0x10000: a host passing SCONFIG{DATA_RATE, 0x1234} (followed by
    // zeros as wide as the list's pointer, where pointers are wider).
    struct {
        j2534::SCONFIG config;
        void* zero;
    } single{{j2534::DATA_RATE, 0x1234}, nullptr};
    ASSERT_EQ(d.Ioctl(ch, j2534::GET_CONFIG, &single, &word), 0);
    EXPECT_EQ(word, 500000u);
    single.config = {j2534::DATA_RATE, 0x8000};
    ASSERT_EQ(d.Ioctl(ch, j2534::SET_CONFIG, &single, nullptr), 0);
    EXPECT_EQ(Get(ch, j2534::DATA_RATE), 0x8000u);
    j2534::SCONFIG_LIST huge{0xFFFFFFFFu, big.data()};
    ASSERT_EQ(d.Ioctl(ch, j2534::GET_CONFIG, &huge, &word), 0);
    EXPECT_EQ(word, 0u);
    // A list that lies nowhere (kernel space): refused, not read.
    j2534::SCONFIG_LIST nowhere{1, reinterpret_cast<j2534::SCONFIG*>(~uintptr_t(0) - 0xFFFF)};
    EXPECT_EQ(d.Ioctl(ch, j2534::SET_CONFIG, &nowhere, nullptr), 0x04);
    EXPECT_EQ(d.LastError(), "PassThruIoctl: input not readable");
    EXPECT_EQ(d.Ioctl(ch, j2534::GET_CONFIG, &list, reinterpret_cast<void*>(~uintptr_t(0) - 0xFFFF)), 0x04);
    EXPECT_EQ(d.LastError(), "PassThruIoctl: output not writable");
    EXPECT_EQ(d.Ioctl(ch, j2534::GET_CONFIG, nullptr, &word), 0x04);
    EXPECT_EQ(d.Ioctl(ch, j2534::SET_CONFIG, nullptr, nullptr), 0x04);
}

TEST_F(Ioctls, AnswersGoToTheOutputListWithinItsCount) {
    Start("");
    const uint32_t ch = Connect(5);
    Params in = {{j2534::DATA_RATE, 0}, {j2534::LOOPBACK, 0}, {j2534::DATA_RATE, 0}};
    j2534::SCONFIG_LIST inList{3, in.data()};
    Params out(3, {0xAA, 0xBB});
    j2534::SCONFIG_LIST outList{2, out.data()};
    ASSERT_EQ(d.Ioctl(ch, j2534::GET_CONFIG, &inList, &outList), 0);
    EXPECT_EQ(out[0].Parameter, j2534::DATA_RATE);
    EXPECT_EQ(out[0].Value, 500000u);
    EXPECT_EQ(out[1].Value, 0u);
    EXPECT_EQ(out[2].Value, 0xBBu);  // beyond the output's count
    EXPECT_EQ(in[0].Value, 0u);
    // An output list without array and count takes the input's.
    j2534::SCONFIG_LIST blank{0, nullptr};
    ASSERT_EQ(d.Ioctl(ch, j2534::GET_CONFIG, &inList, &blank), 0);
    EXPECT_EQ(blank.NumOfParams, 3u);
    EXPECT_EQ(blank.ConfigPtr, in.data());
    EXPECT_EQ(in[2].Value, 500000u);
}

TEST_F(Ioctls, BlockSizeAndSeparationTimeReachTheFlowControl) {
    Start("[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\nForceRawCan=1\n");
    const uint32_t ch = Connect(6);
    Params p = {{j2534::ISO15765_BS, 4}, {j2534::ISO15765_STMIN, 10}};
    ASSERT_EQ(Config(ch, j2534::SET_CONFIG, &p), 0);
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 22 F1 90"), 0);
    Bytes data;
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, VinAnswer());
    const std::vector<std::string> sent = SentData(Trace());
    EXPECT_NE(std::find(sent.begin(), sent.end(), "00 00 07 E0 30 04 0A 00 00 00 00 00"), sent.end());
}

TEST_F(Ioctls, BatteryVoltageFromTheVciOrTheFallback) {
    Start("", "[Module1]\nName=ORVEX3-VCI\nVBattMv=13100\n");
    EXPECT_EQ(d.Ioctl(0, j2534::READ_VBATT, nullptr, nullptr), 0x04);
    // Asked before any connect: the backend comes up for it, and the connect uses it after.
    EXPECT_EQ(Vbatt(), 13100u);
    EXPECT_EQ(CountOf(Log(), "ModuleConnect OK (wrapper marker)"), 1u);
    Connect(5);
    EXPECT_EQ(Vbatt(), 13100u);
    EXPECT_EQ(CountOf(Log(), "Dpdu_Init: marker dpdu_init"), 1u);

    Start("", "[Module1]\nName=ORVEX3-VCI\nVBattMv=8000\n");
    EXPECT_EQ(Vbatt(), 12500u);  // implausible: the default

    Start("[BatteryConfig]\nAlwaysOverride=1\nDefaultMilliVolts=12.9V\n", "[Module1]\nName=ORVEX3-VCI\nVBattMv=13100\n");
    EXPECT_EQ(Vbatt(), 12900u);
    EXPECT_EQ(Trace().find("PDU_IOCTL_READ_VBATT"), std::string::npos);

    // Bench mode without a VCI: nothing is asked, the configured value answers.
    Start("[Bench]\nBenchEnabled=1\n[BatteryConfig]\nDefaultMilliVolts=12100\n", "[Module1]\nStatus=NOT_AVAIL\n");
    EXPECT_EQ(Vbatt(), 12100u);
    EXPECT_EQ(Trace().find("PDUConstruct"), std::string::npos);
}

TEST(IoctlWithoutVci, BatteryFallbackAndItsText) {
    DriverUnderTest d;
    ASSERT_TRUE(LoadDriverCopy(&d, "vbatt_no_vci", "Orvex_J2534",
                               (kQuickProbeIni + "[Backend]\nType=Orvex\n[DpduSettings]\nDllName=missing_vci.dll\n").c_str()));
    j2534::ULONG dev = 0, mv = 0;
    EXPECT_EQ(d.Ioctl(0, j2534::READ_VBATT, nullptr, &mv), 0x08);
    EXPECT_EQ(d.LastError(), "Device not open.");
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    ASSERT_EQ(d.Ioctl(0, j2534::READ_VBATT, nullptr, &mv), 0);
    EXPECT_EQ(mv, 12500u);
    EXPECT_EQ(d.LastError(), "Device not connected (VBATT fallback)");
    EXPECT_EQ(d.Close(dev), 0);
    UnloadDriverCopy(&d);
}

// The control panel writes [Ignition] ForceIgnitionOn into the INI while the host runs.
TEST_F(Ioctls, IgnitionFollowsTheForcedValueOfTheIni) {
    Start("");
    EXPECT_EQ(Ignition(), 1u);
    EXPECT_EQ(Ignition(), 1u);
    EXPECT_EQ(CountOf(Log(), "PassThruIoctl IGNITION_SENSE -> 1\r\n"), 1u);  // once a second at most

    ASSERT_TRUE(platform::ProfileWriteString("Ignition", "ForceIgnitionOn", "0", Ini()));
    platform::ProfileFlush(Ini());
    EXPECT_EQ(Ignition(), 0u);
    const std::string log = Log();
    const size_t updated = log.find("Ignition state updated from INI ForceIgnitionOn: OFF ini=");
    ASSERT_NE(updated, std::string::npos);
    EXPECT_NE(log.find("Orvex_J2534.ini\r\nPassThruIoctl IGNITION_SENSE -> 0\r\n", updated), std::string::npos);
    EXPECT_EQ(Get(0, j2534::IGNITION_SENSE), 0u);
    EXPECT_EQ(CountOf(Log(), "PassThruIoctl IGNITION_SENSE"), 2u);  // the configuration query logs nothing
    EXPECT_EQ(d.Ioctl(0, j2534::IGNITION_SENSE, nullptr, nullptr), 0);

    ASSERT_TRUE(platform::ProfileWriteString("Ignition", "ForceIgnitionOn", "2", Ini()));
    platform::ProfileFlush(Ini());
    EXPECT_EQ(Ignition(), 0u);  // no usable value: the state stays
    ASSERT_TRUE(platform::ProfileWriteString("Ignition", "ForceIgnitionOn", "1", Ini()));
    platform::ProfileFlush(Ini());
    EXPECT_EQ(Ignition(), 1u);
    EXPECT_NE(Log().find("Ignition state updated from INI ForceIgnitionOn: ON ini="), std::string::npos);
}

TEST_F(Ioctls, InitialisationsProgrammingVoltageAndTheRest) {
    Start("");
    j2534::ULONG kline = 0;
    ASSERT_EQ(d.Connect(dev, j2534::ISO14230, 0, 10400, &kline), 0) << d.LastError();
    const uint32_t can = Connect(5);
    uint8_t address = 0x01, keyBytes[2] = {};
    j2534::SBYTE_ARRAY in{1, &address}, out{0, keyBytes};
    ASSERT_EQ(d.Ioctl(kline, j2534::FIVE_BAUD_INIT, &in, &out), 0);
    EXPECT_EQ(out.NumOfBytes, 1u);
    EXPECT_EQ(d.LastError(), "OK");
    address = 0;
    ASSERT_EQ(d.Ioctl(kline, j2534::FIVE_BAUD_INIT, &in, nullptr), 0);
    ASSERT_EQ(d.Ioctl(kline, j2534::FIVE_BAUD_INIT, nullptr, nullptr), 0);
    const std::string log = Log();
    EXPECT_EQ(CountOf(log, "PassThruIoctl FIVE_BAUD_INIT (K-Line) -> NO-OP (STATUS_NOERROR) addr=0x01\r\n"), 1u);
    EXPECT_EQ(CountOf(log, "PassThruIoctl FIVE_BAUD_INIT (K-Line) -> NO-OP (STATUS_NOERROR) addr=0x33\r\n"), 2u);
    EXPECT_EQ(d.Ioctl(can, j2534::FIVE_BAUD_INIT, &in, &out), 0x0F);
    EXPECT_EQ(d.Ioctl(99, j2534::FIVE_BAUD_INIT, &in, &out), 0x0F);
    EXPECT_NE(Log().find("PassThruIoctl FIVE_BAUD_INIT on non-K-Line channel -> ERR_INVALID_IOCTL_ID"), std::string::npos);
    j2534::ULONG word = 0;
    ASSERT_EQ(d.Ioctl(kline, j2534::FAST_INIT, &in, &word), 0);
    EXPECT_EQ(word, 1u);
    EXPECT_NE(Log().find("PassThruIoctl FAST_INIT (K-Line) -> NO-OP (STATUS_NOERROR)"), std::string::npos);
    EXPECT_EQ(d.Ioctl(can, j2534::FAST_INIT, nullptr, nullptr), 0x0F);

    ASSERT_EQ(d.SetProgrammingVoltage(dev, 15, 18000), 0);
    EXPECT_EQ(d.LastError(), "OK");
    ASSERT_EQ(d.Ioctl(0, j2534::READ_PROG_VOLTAGE, nullptr, &word), 0);
    EXPECT_EQ(word, 18000u);
    EXPECT_EQ(d.Ioctl(0, j2534::READ_PROG_VOLTAGE, nullptr, nullptr), 0x04);
    for (uint32_t id : {j2534::CLEAR_TX_BUFFER, j2534::CLEAR_RX_BUFFER, 0x12345u}) {
        EXPECT_EQ(d.Ioctl(can, id, nullptr, nullptr), 0) << id;
        EXPECT_EQ(d.LastError(), "OK");
    }
    EXPECT_NE(Log().find("PassThruIoctl(Channel=2, IoctlID=74565)"), std::string::npos);
    ASSERT_EQ(d.Close(dev), 0);
    dev = 0;
    EXPECT_EQ(d.Ioctl(0, j2534::IGNITION_SENSE, nullptr, &word), 0x08);
}
