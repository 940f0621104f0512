// Host sessions one after another in one process: every session goes through, the simulated VCI
// ends each one with no live item, and the process's handles, threads and memory do not grow.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/driver_under_test.h"
#include "tests/support/soak.h"
#include "tests/support/temp_dir.h"

TEST(Soak, HundredHostSessionsLeaveNothingBehind) {
    DriverUnderTest d;
    ASSERT_TRUE(LoadDriverWithVciSim(&d, "soak", "Orvex_J2534", kQuickProbeIni,
                                     "[General]\nTrace=trace.txt\nTraceEmptyPolls=0\n"));
    const std::string costDir = JoinPath(d.dir, "alone");
    ASSERT_TRUE(platform::CreateOneDirectory(costDir));
    ASSERT_TRUE(CopyFileTo(JoinPath(d.dir, VciSimFileName()), JoinPath(costDir, VciSimFileName())));
    const platform::ProcessResources vciSimCost = VendorLibraryCycleCost(JoinPath(costDir, VciSimFileName()));

    const SoakReport r = RunSoak(d, 10, 100, 200);
    std::printf("%s; the simulated VCI alone per load: handles %llu, memory %llu bytes\n", SoakSummary(r).c_str(),
                static_cast<unsigned long long>(vciSimCost.handles),
                static_cast<unsigned long long>(vciSimCost.memoryBytes));
    ASSERT_EQ(r.failure, "");
    EXPECT_EQ(SoakGrowthBeyondBounds(r, vciSimCost), "");
    const std::string trace = ReadFileText(JoinPath(d.dir, "trace.txt"));
    EXPECT_EQ(CountOf(trace, "PDUDestruct -> 0x0 liveItems=0\n"), 100u);
    EXPECT_EQ(CountOf(trace, "LEAK"), 0u);
    UnloadDriverCopy(&d);
}
