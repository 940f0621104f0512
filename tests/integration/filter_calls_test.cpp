// PassThruStartMsgFilter, PassThruStopMsgFilter and CLEAR_MSG_FILTERS: the ids they hand out,
// what they refuse, and what reaches the host afterwards.
#include "tests/support/traffic_fixture.h"

namespace {

class FilterCalls : public TrafficTest {
protected:
    int32_t StartFilter(uint32_t ch, uint32_t type, const std::string& pattern, j2534::ULONG* id,
                        const std::string& flowControl = "") {
        j2534::PASSTHRU_MSG mask = MakeMsg(6, HexBytes("FF FF FF FF")), pat = MakeMsg(6, HexBytes(pattern));
        j2534::PASSTHRU_MSG fc = MakeMsg(6, HexBytes(flowControl));
        return d.StartMsgFilter(ch, type, &mask, &pat, flowControl.empty() ? nullptr : &fc, id);
    }
};

// Answers of the engine (0x7E8) and of a gateway (0x6F8).
const char kTwoEcus[] = "[Ecu1]\nName=Engine\n[Ecu2]\nName=Gateway\nRequestId=0x6F0\nResponseId=0x6F8\nFunctionalId=0\n";

}  // namespace

TEST_F(FilterCalls, IdsTypesAndBadArguments) {
    Start("");
    const uint32_t ch = Connect(6), other = Connect(6);
    j2534::ULONG id = 0;
    ASSERT_EQ(StartFilter(ch, j2534::PASS_FILTER, "00 00 07 E8", &id), 0);
    EXPECT_EQ(id, 1u);
    ASSERT_EQ(StartFilter(ch, j2534::BLOCK_FILTER, "00 00 07 E9", &id), 0);
    EXPECT_EQ(id, 2u);
    ASSERT_EQ(StartFilter(ch, j2534::FLOW_CONTROL_FILTER, "00 00 07 E8", &id, "00 00 07 E0"), 0);
    EXPECT_EQ(id, 3u);
    EXPECT_NE(Log().find("PassThruStartMsgFilter: ch=1 type=0x3 id=3"), std::string::npos);
    // A flow-control filter without its message is refused, and its id is gone.
    EXPECT_EQ(StartFilter(ch, j2534::FLOW_CONTROL_FILTER, "00 00 07 E8", &id), 0x04);
    ASSERT_EQ(StartFilter(ch, j2534::PASS_FILTER, "00 00 07 E9", &id), 0);
    EXPECT_EQ(id, 5u);
    EXPECT_EQ(StartFilter(ch, 4, "00 00 07 E8", &id), 0x16);
    EXPECT_EQ(d.LastError(), "Invalid filter type");
    EXPECT_EQ(StartFilter(ch, 0, "00 00 07 E8", &id), 0x16);

    j2534::PASSTHRU_MSG mask = MakeMsg(6, HexBytes("FF")), pattern = MakeMsg(6, HexBytes("00"));
    EXPECT_EQ(d.StartMsgFilter(ch, 1, nullptr, &pattern, nullptr, &id), 0x04);
    EXPECT_EQ(d.StartMsgFilter(ch, 1, &mask, nullptr, nullptr, &id), 0x04);
    EXPECT_EQ(d.StartMsgFilter(ch, 1, &mask, &pattern, nullptr, nullptr), 0x04);
    EXPECT_EQ(d.StartMsgFilter(77, 1, nullptr, nullptr, nullptr, nullptr), 0x02);
    // Sizes beyond the record are refused, not copied.
    pattern.DataSize = 4129;
    EXPECT_EQ(d.StartMsgFilter(ch, 1, &mask, &pattern, nullptr, &id), 0x0A);
    EXPECT_EQ(d.LastError(), "Invalid message: DataSize exceeds buffer");
    pattern.DataSize = 1;
    j2534::PASSTHRU_MSG fc = MakeMsg(6, {});
    fc.DataSize = 0xFFFFFFFF;
    EXPECT_EQ(d.StartMsgFilter(ch, 3, &mask, &pattern, &fc, &id), 0x0A);

    EXPECT_EQ(d.StopMsgFilter(ch, 99), 0x16);
    EXPECT_EQ(d.StopMsgFilter(other, 1), 0x16);  // an id of the other channel
    EXPECT_EQ(d.StopMsgFilter(77, 1), 0x02);
    ASSERT_EQ(d.StopMsgFilter(ch, 1), 0);
    EXPECT_EQ(d.StopMsgFilter(ch, 1), 0x16);
    EXPECT_NE(Log().find("PassThruStopMsgFilter: ch=1 id=1"), std::string::npos);
    ASSERT_EQ(StartFilter(other, j2534::PASS_FILTER, "00 00 07 E8", &id), 0);
    EXPECT_EQ(id, 1u);  // ids count per channel
}

TEST_F(FilterCalls, FiltersDecideWhatIsReadAndStoppingOneUndoesIt) {
    Start("", kTwoEcus);
    const uint32_t ch = Connect(6);
    j2534::ULONG block = 0;
    ASSERT_EQ(StartFilter(ch, j2534::BLOCK_FILTER, "00 00 07 E8", &block), 0);
    Bytes data;
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 22 F1 90"), 0);
    EXPECT_EQ(Read(ch, &data, 200), 0x09);
    ASSERT_EQ(d.StopMsgFilter(ch, block), 0);
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 22 F1 90"), 0);
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, VinAnswer());
}

// XENTRY's connect installs PASS filters for the engine's answers. Clearing the filters before a
// flash removes what the host started and keeps those.
TEST_F(FilterCalls, ClearingKeepsTheDriversResponseFilters) {
    Start("[Profile]\nMode=XENTRY\n", kTwoEcus);
    const uint32_t ch = Connect(6);
    j2534::ULONG pass = 0, block = 0;
    ASSERT_EQ(StartFilter(ch, j2534::PASS_FILTER, "00 00 06 F8", &pass), 0);
    EXPECT_EQ(pass, 3u);  // after the driver's two
    Bytes data;
    ASSERT_EQ(Send(ch, 6, "00 00 06 F0 22 F1 90"), 0);
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data[3], 0xF8);
    ASSERT_EQ(StartFilter(ch, j2534::BLOCK_FILTER, "00 00 07 E8", &block), 0);
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 22 F1 90"), 0);
    EXPECT_EQ(Read(ch, &data, 200), 0x09);

    ASSERT_EQ(d.Ioctl(ch, j2534::CLEAR_MSG_FILTERS, nullptr, nullptr), 0);
    EXPECT_EQ(d.LastError(), "OK");
    EXPECT_NE(Log().find("PassThruIoctl CLEAR_MSG_FILTERS: ch=1 removed=2"), std::string::npos);
    EXPECT_EQ(d.StopMsgFilter(ch, pass), 0x16);
    ASSERT_EQ(Send(ch, 6, "00 00 07 E0 22 F1 90"), 0);
    ASSERT_EQ(Read(ch, &data), 0);
    EXPECT_EQ(data, VinAnswer());
    ASSERT_EQ(Send(ch, 6, "00 00 06 F0 22 F1 90"), 0);
    EXPECT_EQ(Read(ch, &data, 200), 0x09);  // the driver's filters still keep the gateway out
    ASSERT_EQ(StartFilter(ch, j2534::PASS_FILTER, "00 00 06 F8", &pass), 0);
    EXPECT_EQ(pass, 5u);
}
