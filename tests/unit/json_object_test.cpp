// The JSON reader of the Linux driver entries: what it keeps, and what it refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/json_object.h"

TEST(JsonObject, KeepsTopLevelMembersAndSkipsNestedValues) {
    std::vector<JsonMember> m;
    std::string error;
    ASSERT_TRUE(ParseJsonObject("\xEF\xBB\xBF{ \"NAME\" : \"A \\\"b\\\" \\u00e9 \\ud83d\\ude00\\n\", \"CAN\": true,"
                                " \"J1850VPW\":false, \"x\": -1.5e3, \"n\": null, \"o\": {\"a\": [1, {\"b\": []}]},"
                                " \"l\": [] }\n",
                                &m, &error))
        << error;
    ASSERT_EQ(m.size(), 7u);
    EXPECT_EQ(m[0].name, "NAME");
    EXPECT_EQ(m[0].kind, JsonMember::Kind::String);
    EXPECT_EQ(m[0].text, "A \"b\" \xC3\xA9 \xF0\x9F\x98\x80\n");
    EXPECT_EQ(m[1].kind, JsonMember::Kind::Bool);
    EXPECT_TRUE(m[1].flag);
    EXPECT_FALSE(m[2].flag);
    EXPECT_EQ(m[3].kind, JsonMember::Kind::Number);
    EXPECT_EQ(m[3].text, "-1.5e3");
    EXPECT_EQ(m[4].kind, JsonMember::Kind::Null);
    EXPECT_EQ(m[5].kind, JsonMember::Kind::Nested);
    EXPECT_EQ(m[6].kind, JsonMember::Kind::Nested);
    ASSERT_TRUE(ParseJsonObject("{}", &m, &error));
    EXPECT_TRUE(m.empty());
}

TEST(JsonObject, RefusesWhatIsNotOneWellFormedObject) {
    const char* bad[] = {"",
                         "[1, 2]",
                         "{\"a\": 1,}",
                         "{\"a\" 1}",
                         "{\"a\": \"open}",
                         "{\"a\": tru}",
                         "{\"a\": 01x}",
                         "{\"a\": \"\\q\"}",
                         "{\"a\": \"\\ud800\"}",
                         "{\"a\": \"tab\there\"}",
                         "{\"a\": 1} {}",
                         "{\"a\": [1, 2}",
                         "{'a': 1}"};
    for (const char* text : bad) {
        std::vector<JsonMember> m(1);
        std::string error;
        EXPECT_FALSE(ParseJsonObject(text, &m, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_TRUE(m.empty()) << text;
    }
    // Deep nesting is refused, not followed down the stack.
    std::string deep = "{\"a\": " + std::string(100000, '[') + std::string(100000, ']') + "}";
    std::vector<JsonMember> m;
    std::string error;
    EXPECT_FALSE(ParseJsonObject(deep, &m, &error));
    EXPECT_NE(error.find("nested too deep"), std::string::npos);
}

TEST(JsonObject, QuotedTextReadsBackUnchanged) {
    const std::string text = "C:\\J2534\\\"odd\" name\x01\t/";
    std::vector<JsonMember> m;
    std::string error;
    ASSERT_TRUE(ParseJsonObject("{\"k\": " + JsonQuote(text) + "}", &m, &error)) << error;
    EXPECT_EQ(m[0].text, text);
}
