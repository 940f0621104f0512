// Which 04.04 library the 02.02 adapter loads, and the baud rate it connects with.
#include <gtest/gtest.h>

#include "adapter0202/adapter.h"

TEST(AdapterSibling, OnlyAFinalUnderscore0202BeforeTheSuffixIsRemovedInAnyCase) {
    EXPECT_EQ(ResolveSiblingPath("C:\\J2534\\Orvex_J2534_0202.dll", ".dll"), "C:\\J2534\\Orvex_J2534.dll");
    EXPECT_EQ(ResolveSiblingPath("C:\\J2534\\TVN_J2534_0202.DLL", ".dll"), "C:\\J2534\\TVN_J2534.DLL");
    EXPECT_EQ(ResolveSiblingPath("/opt/orvex/Orvex_J2534_0202.so", ".so"), "/opt/orvex/Orvex_J2534.so");
    // Anything else loads the adapter's own path (which then lacks the 04.04 functions).
    EXPECT_EQ(ResolveSiblingPath("C:\\J2534\\Legacy.dll", ".dll"), "C:\\J2534\\Legacy.dll");
    EXPECT_EQ(ResolveSiblingPath("C:\\J2534\\Orvex_J25340202.dll", ".dll"), "C:\\J2534\\Orvex_J25340202.dll");
    EXPECT_EQ(ResolveSiblingPath("C:\\J2534\\Orvex_J2534_0202.dll.bak", ".dll"), "C:\\J2534\\Orvex_J2534_0202.dll.bak");
    EXPECT_EQ(ResolveSiblingPath("_0202.dll", ".dll"), ".dll");
    EXPECT_EQ(ResolveSiblingPath("", ".dll"), "");
}

TEST(AdapterSibling, BaudTable) {
    for (uint32_t p : {1u, 3u, 4u}) EXPECT_EQ(DefaultBaudFor(p), 10400u) << p;
    EXPECT_EQ(DefaultBaudFor(2), 41600u);
    for (uint32_t p : {5u, 6u, 13u}) EXPECT_EQ(DefaultBaudFor(p), 500000u) << p;
    for (uint32_t p : {0u, 7u, 8u, 9u, 10u, 11u, 12u, 14u, 15u, 16u, 0x8000u}) EXPECT_EQ(DefaultBaudFor(p), 0u) << p;
}
