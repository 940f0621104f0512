// Host sessions one after another in one process: every session goes through, the simulated VCI
// ends each one with no live item, and the process's handles, threads and memory do not grow.
#include <gtest/gtest.h>

#include "tests/support/driver_under_test.h"
#include "tests/support/soak.h"
#include "tests/support/temp_dir.h"

TEST(Soak, HundredHostSessionsLeaveNothingBehind) {
    DriverUnderTest d;
    ASSERT_TRUE(LoadDriverWithVciSim(&d, "soak", "Orvex_J2534", kQuickProbeIni,
                                     "[General]\nTrace=trace.txt\nTraceEmptyPolls=0\n"));
    const SoakReport r = RunSoak(d, 10, 100, 200);
    std::printf("%s\n", SoakSummary(r).c_str());
    ASSERT_EQ(r.failure, "");
    EXPECT_EQ(SoakGrowthBeyondBounds(r), "");
    const std::string trace = ReadFileText(JoinPath(d.dir, "trace.txt"));
    EXPECT_EQ(CountOf(trace, "PDUDestruct -> 0x0 liveItems=0\n"), 100u);
    EXPECT_EQ(CountOf(trace, "LEAK"), 0u);
    UnloadDriverCopy(&d);
}
