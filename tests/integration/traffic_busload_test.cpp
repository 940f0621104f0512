// Traffic from other nodes reaching a host through the driver's CAN channel, and the simulated
// VCI's counts read beside the driver, as a bus-load benchmark reads them.
#include "platform/platform.h"
#include "tests/support/traffic_fixture.h"
#include "vcisim/traffic_counts.h"

namespace {

class BusLoad : public TrafficTest {};

}  // namespace

TEST_F(BusLoad, EveryFrameReachesTheHostInOrderAndTheVciCountsThem) {
    Start("[Logging]\nLogEnabled=0\n", "[Traffic]\nRate=500\n");
    // The driver's library and this one are the same file: one simulator in the process.
    void* vciSim = platform::LoadLibraryFile(JoinPath(d.dir, VciSimFileName()));
    ASSERT_NE(vciSim, nullptr);
    auto counts = reinterpret_cast<VciSimGetTrafficCountsFn>(platform::GetLibrarySymbol(vciSim, "VciSimGetTrafficCounts"));
    ASSERT_NE(counts, nullptr);
    uint64_t generated = 0, delivered = 0, dropped = 0;
    ASSERT_EQ(counts(PDU_HANDLE_UNDEF, &generated, &delivered, &dropped), 0u);
    EXPECT_EQ(generated, 0u);

    uint32_t ch = Connect(5);
    // The traffic starts with the first ComPrimitive that receives: the channel's first write.
    ASSERT_EQ(Send(ch, 5, "00 00 01 23 00", 0), 0);
    for (uint32_t seq = 0; seq < 100; ++seq) {
        Bytes data;
        ASSERT_EQ(Read(ch, &data, 1000), 0) << seq;
        ASSERT_EQ(data.size(), 12u);
        EXPECT_EQ(data[3], 0x00 + seq % 16);
        EXPECT_EQ(data[2], 0x01);
        EXPECT_EQ(data[7], seq);
    }
    ASSERT_EQ(counts(PDU_HANDLE_UNDEF, &generated, &delivered, &dropped), 0u);
    EXPECT_EQ(delivered, 100u);
    EXPECT_EQ(dropped, 0u);
    EXPECT_GE(generated, 100u);
    EXPECT_EQ(d.Disconnect(ch), 0);
    EXPECT_NE(Trace().find("# traffic hCLL=1 generated="), std::string::npos);
    platform::FreeLibraryFile(vciSim);
}
