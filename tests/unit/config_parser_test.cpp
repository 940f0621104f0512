// The INI line reader: sections, keys, comments and what malformed text turns into.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/config/ini_parser.h"

namespace {
struct Key {
    std::string section, key, value;
    bool operator==(const Key& o) const { return section == o.section && key == o.key && value == o.value; }
};
std::ostream& operator<<(std::ostream& os, const Key& k) { return os << k.section << "|" << k.key << "|" << k.value; }

std::vector<Key> Parse(const std::string& text) {
    std::vector<Key> keys;
    ForEachIniKey(text, [&](const std::string& s, const std::string& k, const std::string& v) { keys.push_back({s, k, v}); });
    return keys;
}
}  // namespace

TEST(IniParser, SectionsKeysAndTrimming) {
    auto keys = Parse("  [ Backend ]  \r\n  type =  tvn  \r\nA=1=2\r\n[x]\nk=\n");
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0], (Key{"Backend", "type", "tvn"}));
    EXPECT_EQ(keys[1], (Key{"Backend", "A", "1=2"}));  // split at the first "="
    EXPECT_EQ(keys[2], (Key{"x", "k", ""}));
}

TEST(IniParser, CommentsBlankAndKeylessLines) {
    // No trailing comments: everything after "=" is the value.
    auto keys = Parse("[s]\n; LogEnabled=0\n# x\n   ;indented=1\n\nno equals here\nLogEnabled=0 ; off\n");
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0], (Key{"s", "LogEnabled", "0 ; off"}));
}

TEST(IniParser, KeysBeforeFirstSectionAreIgnored) {
    auto keys = Parse("Type=Orvex\n[Backend]\nType=TVN");
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].value, "TVN");
}

TEST(IniParser, HalfHeadersAreNotSections) {
    // "[x" has no closing bracket: it is neither a header nor a key line.
    auto keys = Parse("[a]\n[x\nk=1\n[]\nm=2\nx]=3\n");
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0], (Key{"a", "k", "1"}));
    EXPECT_EQ(keys[1], (Key{"", "m", "2"}));
    EXPECT_EQ(keys[2], (Key{"", "x]", "3"}));
}

TEST(IniParser, BinaryGarbageAndLongLinesAreReadAsLines) {
    std::string text = "[s]\n";
    text += std::string("k\0\x01\xff=v\0w", 8) + "\n";
    text += "long=" + std::string(100000, 'z') + "\r\n";
    text += "\x01[t]\nafter=1";  // a header behind a control byte is no header
    auto keys = Parse(text);
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0].key, std::string("k\0\x01\xff", 4));
    EXPECT_EQ(keys[0].value, std::string("v\0w", 3));
    EXPECT_EQ(keys[1].value.size(), 100000u);
    EXPECT_EQ(keys[2], (Key{"s", "after", "1"}));
}

TEST(IniParser, ByteOrderMarkAtStartIsSkipped) {
    // Editors that save UTF-8 with a byte-order mark must not hide the first section.
    auto keys = Parse("\xef\xbb\xbf[Backend]\r\nType=Orvex\r\n");
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0], (Key{"Backend", "Type", "Orvex"}));
}

TEST(IniParser, EmptyAndLineEndOnlyInput) {
    EXPECT_TRUE(Parse("").empty());
    EXPECT_TRUE(Parse("\n\r\n\r").empty());
    EXPECT_TRUE(Parse("[s]").empty());
}
