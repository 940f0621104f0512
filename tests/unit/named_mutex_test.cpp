// The named cross-process mutex: a second creation sees the first, and the name is free
// again once every holder has closed it.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {
// POSIX keeps its lock files in TMPDIR; these stay in the test's own folder.
std::string TestMutexName() {
    platform::SetEnv("TMPDIR", MakeScenarioDir("mutex").c_str());
    return "Orvex_Test_Mutex_" + std::to_string(platform::CurrentProcessId());
}
}  // namespace

TEST(NamedMutex, SecondCreationSeesTheFirstUntilAllAreClosed) {
    std::string name = TestMutexName();
    bool existed = true;
    void* first = platform::CreateNamedMutex(name, &existed);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(existed);

    void* second = platform::CreateNamedMutex(name, &existed);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(existed);
    platform::CloseNamedMutex(second);
    platform::CloseNamedMutex(first);

    void* third = platform::CreateNamedMutex(name, &existed);
    ASSERT_NE(third, nullptr);
    EXPECT_FALSE(existed);
    platform::CloseNamedMutex(third);
}

TEST(NamedMutex, NamesAreIndependent) {
    std::string base = TestMutexName();
    bool existed = true;
    void* a = platform::CreateNamedMutex(base + "_a", &existed);
    EXPECT_FALSE(existed);
    void* b = platform::CreateNamedMutex(base + "_b", &existed);
    EXPECT_FALSE(existed);
    platform::CloseNamedMutex(a);
    platform::CloseNamedMutex(b);
    platform::CloseNamedMutex(nullptr);  // harmless
}
