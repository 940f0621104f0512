// Device rules that need no VCI: the comm-lost back-off window.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "driver/api/device.h"

TEST(CommLostWindow, FirstLossWaitsTheWholeWindow) {
    std::atomic<uint32_t> next{0};
    bool fresh = false;
    EXPECT_EQ(CommLostWaitMs(5000, &next, &fresh), 1000u);
    EXPECT_TRUE(fresh);
    EXPECT_EQ(next.load(), 6000u);
}

TEST(CommLostWindow, SecondLossWaitsOnlyTheRemainder) {
    std::atomic<uint32_t> next{0};
    bool fresh = false;
    CommLostWaitMs(5000, &next, &fresh);
    EXPECT_EQ(CommLostWaitMs(5300, &next, &fresh), 700u);
    EXPECT_FALSE(fresh);
    EXPECT_EQ(next.load(), 6000u);  // the window does not move
    EXPECT_EQ(CommLostWaitMs(6000, &next, &fresh), 1000u);
    EXPECT_TRUE(fresh);
    EXPECT_EQ(next.load(), 7000u);
}

TEST(CommLostWindow, TickWrapAndStaleWindows) {
    std::atomic<uint32_t> next{0};
    bool fresh = false;
    // A window across the 32-bit wrap.
    EXPECT_EQ(CommLostWaitMs(0xFFFFFF00u, &next, &fresh), 1000u);
    EXPECT_EQ(CommLostWaitMs(0x00000010u, &next, &fresh), 1000u - 0x110u);
    EXPECT_FALSE(fresh);
    // The initial 0 seen from a tick count past 2^31 is no reason to sleep for weeks.
    next = 0;
    EXPECT_EQ(CommLostWaitMs(0x80000100u, &next, &fresh), 1000u);
    EXPECT_TRUE(fresh);
}
