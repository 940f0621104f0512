// The per-thread last-error text as PassThruGetLastError hands it out.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "driver/api/api_impl.h"
#include "driver/api/last_error.h"

TEST(LastError, LongTextIsCutTo79CharactersAndNotCleared) {
    std::string text(120, 'e');
    SetLastErrorText(text);
    char buf[80];
    std::memset(buf, 'X', sizeof buf);
    ASSERT_EQ(PassThruGetLastErrorImpl(buf), 0);
    EXPECT_EQ(std::string(buf), std::string(79, 'e'));
    EXPECT_EQ(LastErrorText(), text);  // reading does not clear
    SetLastErrorText("");
    ASSERT_EQ(PassThruGetLastErrorImpl(buf), 0);
    EXPECT_STREQ(buf, "No error");
}

TEST(LastError, ThreadsKeepTheirOwnText) {
    SetLastErrorText("main");
    std::string seen;
    std::thread t([&] {
        seen = LastErrorText();
        SetLastErrorText("worker");
    });
    t.join();
    EXPECT_EQ(seen, "");
    EXPECT_EQ(LastErrorText(), "main");
}
