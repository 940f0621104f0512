// ISO 15765 response PASS filters built for the DAS, XENTRY and PCMflash profiles.
#include <gtest/gtest.h>

#include <cstdint>

#include "common/j2534.h"
#include "driver/api/channel.h"
#include "driver/api/das_profile.h"
#include "driver/config/driver_config.h"

namespace {
uint32_t BigEndian(const uint8_t* d) {
    return (uint32_t(d[0]) << 24) | (uint32_t(d[1]) << 16) | (uint32_t(d[2]) << 8) | d[3];
}

void ExpectPass(const FilterRecord& f, uint32_t id, uint32_t pattern, uint32_t mask) {
    EXPECT_EQ(f.filterId, id);
    EXPECT_EQ(f.filterType, j2534::PASS_FILTER);
    EXPECT_EQ(f.mask.ProtocolID, j2534::ISO15765);
    EXPECT_EQ(f.mask.DataSize, 4u);
    EXPECT_EQ(BigEndian(f.mask.Data), mask);
    EXPECT_EQ(f.pattern.ProtocolID, j2534::ISO15765);
    EXPECT_EQ(f.pattern.DataSize, 4u);
    EXPECT_EQ(BigEndian(f.pattern.Data), pattern);
    EXPECT_EQ(f.flowControl.ProtocolID, 0u);
    EXPECT_EQ(f.flowControl.DataSize, 0u);
}

class DasFilters : public ::testing::Test {
protected:
    void SetUp() override { saved = g_config; }
    void TearDown() override { g_config = saved; }
    DriverConfig saved;
};
}  // namespace

TEST_F(DasFilters, WithoutPairsTwoFiltersOn7E8) {
    g_config.DasIdPairs.clear();
    ChannelContext ch;
    InstallDasResponseFilters(ch);
    ASSERT_EQ(ch.filters.size(), 2u);
    ExpectPass(ch.filters[0], 1, 0x7E8, 0x7FF);
    ExpectPass(ch.filters[1], 2, 0x7E8, 0x7F8);
    EXPECT_EQ(ch.nextFilterId, 3u);
}

TEST_F(DasFilters, OneFilterPerPairOnItsReceiveId) {
    g_config.DasIdPairs = {{0x7E0, 0x7E8}, {0x7E1, 0x7E9}};
    ChannelContext ch;
    ch.nextFilterId = 5;  // ids continue from the channel's counter
    InstallDasResponseFilters(ch);
    ASSERT_EQ(ch.filters.size(), 2u);
    ExpectPass(ch.filters[0], 5, 0x7E8, 0x1FFFFFFF);
    ExpectPass(ch.filters[1], 6, 0x7E9, 0x1FFFFFFF);
}

TEST_F(DasFilters, ExtendedIdsAreWrittenMostSignificantByteFirst) {
    ChannelContext ch;
    AddPassFilter(ch, 0x18DAF110, 0x1FFFFFFF);
    ASSERT_EQ(ch.filters.size(), 1u);
    const uint8_t* p = ch.filters[0].pattern.Data;
    EXPECT_EQ(p[0], 0x18);
    EXPECT_EQ(p[1], 0xDA);
    EXPECT_EQ(p[2], 0xF1);
    EXPECT_EQ(p[3], 0x10);
}
