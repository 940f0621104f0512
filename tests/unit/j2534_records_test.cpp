// The records as hosts declare them, and the receive time as they read it.
#include <gtest/gtest.h>

#include "common/j2534.h"

TEST(J2534Records, TimestampIsTheLowWordOfTheMicrosecondClockAndWraps) {
    EXPECT_EQ(j2534::TimestampFromUs(0), 0u);
    EXPECT_EQ(j2534::TimestampFromUs(4294967295ull), 4294967295u);
    EXPECT_EQ(j2534::TimestampFromUs(4294967296ull + 5), 5u);  // after about 71.6 minutes
    // A host's difference across the wrap, taken in 32 bits, is still the time between.
    const j2534::ULONG before = j2534::TimestampFromUs(4294967296ull - 16);
    const j2534::ULONG after = j2534::TimestampFromUs(4294967296ull + 16);
    EXPECT_EQ(static_cast<uint32_t>(after - before), 32u);
}

TEST(J2534Records, HostsUnsignedLongIsTheFieldWidth) {
    EXPECT_EQ(sizeof(j2534::PASSTHRU_MSG::DataSize), sizeof(unsigned long));
    EXPECT_EQ(offsetof(j2534::PASSTHRU_MSG, Data), 6 * sizeof(unsigned long));
    EXPECT_EQ(sizeof(j2534::SCONFIG), 2 * sizeof(unsigned long));
}
