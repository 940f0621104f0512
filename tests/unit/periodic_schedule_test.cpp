// Which periodic messages the sender takes at a given time, in which order, and when it looks again.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "driver/api/device.h"
#include "driver/api/periodic.h"

namespace {

class PeriodicSchedule : public ::testing::Test {
protected:
    void TearDown() override { g_device.channels.clear(); }

    // A channel with messages of these intervals, each first due one interval after startUs.
    ChannelContext& Channel(uint32_t id, std::vector<uint32_t> intervalsMs, uint64_t startUs) {
        ChannelContext& ch = g_device.channels[id];
        ch.channelId = id;
        for (uint32_t interval : intervalsMs) {
            PeriodicRecord r;
            r.msgId = ch.nextPeriodicId++;
            r.message.DataSize = 1;
            r.message.Data[0] = static_cast<uint8_t>(r.msgId);
            r.intervalMs = interval;
            r.nextDueUs = startUs + uint64_t(interval) * 1000u;
            ch.periodicMsgs.push_back(r);
        }
        return ch;
    }

    // The messages taken at nowUs, in order, as (channel, first data byte); the next due time in *next.
    std::vector<std::pair<uint32_t, uint8_t>> Take(uint64_t nowUs, uint64_t* next = nullptr) {
        std::vector<std::pair<uint32_t, uint8_t>> out;
        std::lock_guard<std::mutex> lock(g_deviceLock);
        DuePeriodicMsg due;
        uint64_t n = 0;
        while (TakeDuePeriodicMsgLocked(nowUs, &due, &n)) out.emplace_back(due.channelId, due.message.Data[0]);
        if (next) *next = n;
        return out;
    }
    using Sent = std::vector<std::pair<uint32_t, uint8_t>>;
};

}  // namespace

TEST_F(PeriodicSchedule, FirstAfterOneIntervalThenEveryInterval) {
    Channel(1, {100, 10}, 0);
    uint64_t next = 0;
    EXPECT_EQ(Take(9999, &next), Sent{});
    EXPECT_EQ(next, 10000u);
    EXPECT_EQ(Take(10000, &next), (Sent{{1, 2}}));
    EXPECT_EQ(next, 20000u);
    // Taken 3 ms late: the next one an interval later, so the gap between the two stays.
    EXPECT_EQ(Take(23000, &next), (Sent{{1, 2}}));
    EXPECT_EQ(next, 33000u);
    for (uint64_t t = 33000; t < 100000; t += 10000) Take(t);
    EXPECT_EQ(Take(100000, &next), (Sent{{1, 1}}));
    EXPECT_EQ(next, 103000u);
    // Due together, the short interval goes before the long one, whatever their order.
    EXPECT_EQ(Take(200000, &next), (Sent{{1, 2}, {1, 1}}));
    EXPECT_EQ(next, 210000u);
}

TEST_F(PeriodicSchedule, LateTicksAreNotCaughtUp) {
    Channel(1, {10}, 0);
    uint64_t next = 0;
    // 55 ms late: one send rather than six at once.
    EXPECT_EQ(Take(65000, &next), (Sent{{1, 1}}));
    EXPECT_EQ(next, 75000u);
    EXPECT_EQ(Take(70000), Sent{});
}

TEST_F(PeriodicSchedule, SeveralChannelsAndTheLongestInterval) {
    Channel(3, {20}, 0);
    ChannelContext& b = Channel(4, {0xFFFFFFFFu, 20}, 0);
    uint64_t next = 0;
    EXPECT_EQ(Take(20000, &next), (Sent{{3, 1}, {4, 2}}));  // equal: in the order of the lists
    EXPECT_EQ(next, 40000u);
    // 0xFFFFFFFF ms lies 49.7 days ahead, not in the past of a wrapped tick count.
    EXPECT_EQ(b.periodicMsgs[0].nextDueUs, 0xFFFFFFFFull * 1000u);
    b.periodicMsgs.pop_back();
    g_device.channels.erase(g_device.channels.begin());
    EXPECT_EQ(Take(40000, &next), Sent{});
    EXPECT_EQ(next, 0xFFFFFFFFull * 1000u);
    g_device.channels.clear();
    EXPECT_EQ(Take(40000, &next), Sent{});
    EXPECT_EQ(next, UINT64_MAX);
}
