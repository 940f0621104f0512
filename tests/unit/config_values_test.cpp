// INI value types: how one value text becomes a setting, with the edge values users write.
#include <gtest/gtest.h>

#include "driver/config/config_values.h"

TEST(ConfigValues, BoolAcceptsOneTrueYesOnOnly) {
    for (const char* v : {"1", "true", "TRUE", "Yes", "on", "ON"}) EXPECT_TRUE(ParseBool(v)) << v;
    for (const char* v : {"0", "false", "", "2", "01", "y", "enabled", "1 ; on", "true "}) EXPECT_FALSE(ParseBool(v)) << v;
}

TEST(ConfigValues, Bool10AcceptsOneAndTrueOnly) {
    EXPECT_TRUE(ParseBool10("1"));
    EXPECT_TRUE(ParseBool10("True"));
    for (const char* v : {"on", "yes", "0", "", "11"}) EXPECT_FALSE(ParseBool10(v)) << v;
}

TEST(ConfigValues, UintAutomaticBaseAndPrefixReading) {
    uint32_t v = 6;
    EXPECT_TRUE(ParseUint("0x10", &v));
    EXPECT_EQ(v, 16u);
    EXPECT_TRUE(ParseUint("0X1f", &v));
    EXPECT_EQ(v, 31u);
    EXPECT_TRUE(ParseUint("010", &v));
    EXPECT_EQ(v, 8u);
    EXPECT_TRUE(ParseUint("08", &v));  // octal stops at 8
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(ParseUint("7E0", &v));  // decimal stops at E
    EXPECT_EQ(v, 7u);
    EXPECT_TRUE(ParseUint("250ms", &v));
    EXPECT_EQ(v, 250u);
    EXPECT_TRUE(ParseUint("0x", &v));  // "0" then an unfitting "x"
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(ParseUint("4294967295", &v));
    EXPECT_EQ(v, 0xFFFFFFFFu);
    EXPECT_TRUE(ParseUint("0xFFFFFFFF", &v));
    EXPECT_EQ(v, 0xFFFFFFFFu);
}

TEST(ConfigValues, UintLeavesFieldOnBadInput) {
    for (const char* bad : {"", "abc", "x10", "4294967296", "0x100000000", "99999999999999999999", "-5", " 5"}) {
        uint32_t v = 6;
        EXPECT_FALSE(ParseUint(bad, &v)) << bad;
        EXPECT_EQ(v, 6u) << bad;
    }
}

TEST(ConfigValues, DecimalIntLikeAtoi) {
    EXPECT_EQ(ParseDecimalInt("0 ; off"), 0);
    EXPECT_EQ(ParseDecimalInt("yes"), 0);
    EXPECT_EQ(ParseDecimalInt("1"), 1);
    EXPECT_EQ(ParseDecimalInt("-5mV"), -5);
    EXPECT_EQ(ParseDecimalInt("+9000"), 9000);
    EXPECT_EQ(ParseDecimalInt("0x10"), 0);
    EXPECT_EQ(ParseDecimalInt("99999999999"), 2147483647);
    EXPECT_EQ(ParseDecimalInt("-99999999999"), -2147483647 - 1);
}

TEST(ConfigValues, MilliVoltsVoltsOrMillivolts) {
    struct Case {
        const char* text;
        uint32_t mv;
    } cases[] = {{"12.6V", 12600}, {"12.6 v", 12600}, {"13", 13000},   {"12600", 12600}, {"1000", 1000000},
                 {"1001", 1001},   {" 1 3 . 5 ", 13500}, {"12.3456", 12346}, {".5", 500}, {"14V", 14000}};
    for (const Case& c : cases) {
        uint32_t v = 1;
        EXPECT_TRUE(ParseMilliVolts(c.text, &v)) << c.text;
        EXPECT_EQ(v, c.mv) << c.text;
    }
    for (const char* bad : {"0", "-5", "0.0", "-12.5", "abc", "", "V", "0.0001", "99999999999", "5000000.0"}) {
        uint32_t v = 12500;
        EXPECT_FALSE(ParseMilliVolts(bad, &v)) << bad;
        EXPECT_EQ(v, 12500u) << bad;
    }
}

TEST(ConfigValues, IdPairsSeparatorsRangeAndKeepOnNothing) {
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    ASSERT_TRUE(ParseIdPairs("0x7E0->0x7E8, 0x7E1/0x7E9, 0x800:0x900", &pairs));
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0], std::make_pair(0x7E0u, 0x7E8u));
    EXPECT_EQ(pairs[1], std::make_pair(0x7E1u, 0x7E9u));

    ASSERT_TRUE(ParseIdPairs("7E0:7E8", &pairs));  // decimal, reading stops at "E"
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_EQ(pairs[0], std::make_pair(7u, 7u));

    // Nothing usable leaves the list as it was.
    for (const char* bad : {"", ",,", "0x7E0", "0:0x7E8", "abc:def", "0x800:0x7E8", "0x7E0:0"})
        EXPECT_FALSE(ParseIdPairs(bad, &pairs)) << bad;
    EXPECT_EQ(pairs.size(), 1u);
}

TEST(ConfigValues, ResourceIdListSkipsEmptyAndReservedValues) {
    EXPECT_EQ(ParseResourceIdList("0x300B0001, ,0,0xFFFFFFFF,0xFFFFFFFE, 12 ,junk"),
              (std::vector<uint32_t>{0x300B0001u, 12u}));
    EXPECT_TRUE(ParseResourceIdList("").empty());
}

TEST(ConfigValues, TrimAndCaseHelpers) {
    EXPECT_EQ(TrimText(" \t a b \r\n"), "a b");
    EXPECT_EQ(TrimText("   "), "");
    EXPECT_TRUE(EqualsNoCase("BackEnd", "backend"));
    EXPECT_FALSE(EqualsNoCase("Backend1", "backend"));
}
