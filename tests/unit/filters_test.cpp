// What a channel's filters let through to the host.
#include <gtest/gtest.h>

#include <vector>

#include "driver/api/filters.h"

namespace {

j2534::PASSTHRU_MSG Msg(uint32_t protocol, std::vector<uint8_t> data) {
    j2534::PASSTHRU_MSG m{};
    m.ProtocolID = protocol;
    m.DataSize = static_cast<uint32_t>(data.size());
    for (size_t i = 0; i < data.size(); ++i) m.Data[i] = data[i];
    return m;
}

FilterRecord Filter(uint32_t type, uint32_t maskProtocol, std::vector<uint8_t> mask, std::vector<uint8_t> pattern) {
    FilterRecord f;
    f.filterType = type;
    f.mask = Msg(maskProtocol, mask);
    f.pattern = Msg(6, pattern);
    return f;
}

const j2534::PASSTHRU_MSG kFrom7E8 = Msg(6, {0, 0, 7, 0xE8, 0x62, 0xF1, 0x90});
const j2534::PASSTHRU_MSG kFrom7E9 = Msg(6, {0, 0, 7, 0xE9, 0x62, 0xF1, 0x90});

}  // namespace

TEST(Filters, PassAndBlock) {
    EXPECT_TRUE(PassesFilters({}, kFrom7E8));
    const FilterRecord pass7E8 = Filter(1, 6, {0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 7, 0xE8});
    EXPECT_TRUE(PassesFilters({pass7E8}, kFrom7E8));
    EXPECT_FALSE(PassesFilters({pass7E8}, kFrom7E9));
    // A flow-control filter passes like a PASS filter.
    FilterRecord fc7E9 = Filter(3, 6, {0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 7, 0xE9});
    EXPECT_TRUE(PassesFilters({pass7E8, fc7E9}, kFrom7E9));
    // A matching BLOCK filter wins; a PASS filter that matches nothing rejects everything.
    const FilterRecord blockAll = Filter(2, 0, {}, {});
    EXPECT_FALSE(PassesFilters({pass7E8, blockAll}, kFrom7E8));
    const FilterRecord passNone = Filter(1, 6, {0xFF}, {0x55});
    EXPECT_FALSE(PassesFilters({passNone, Filter(2, 6, {0, 0, 0, 0xFF}, {0, 0, 0, 0x01})}, kFrom7E8));
}

TEST(Filters, MaskPatternAndMessageLengths) {
    // Only the bytes that mask, pattern and message all have are compared.
    EXPECT_TRUE(FilterMatches(Filter(1, 6, {0xFF, 0xFF, 0xFF, 0xF8}, {0, 0, 7, 0xE8}), kFrom7E9));
    EXPECT_TRUE(FilterMatches(Filter(1, 6, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 7, 0xE8}), kFrom7E8));
    EXPECT_FALSE(FilterMatches(Filter(1, 6, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 7, 0xE8, 0x7F}), kFrom7E8));
    EXPECT_TRUE(FilterMatches(Filter(1, 6, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                                     {0, 0, 7, 0xE8, 0x62, 0xF1, 0x90, 0x11}),
                              kFrom7E8));
    EXPECT_TRUE(FilterMatches(Filter(1, 6, {}, {0x12}), kFrom7E8));
    // The mask's protocol must be the message's, unless it is 0.
    EXPECT_FALSE(FilterMatches(Filter(1, 5, {0xFF}, {0x00}), kFrom7E8));
    EXPECT_TRUE(FilterMatches(Filter(1, 0, {0xFF}, {0x00}), kFrom7E8));
    // Sizes beyond the record are never read.
    FilterRecord huge = Filter(1, 6, {0xFF}, {0x00});
    huge.mask.DataSize = huge.pattern.DataSize = 0xFFFFFFFF;
    j2534::PASSTHRU_MSG long_ = kFrom7E8;
    long_.DataSize = 0xFFFFFFFF;
    EXPECT_TRUE(FilterMatches(huge, long_));
}
