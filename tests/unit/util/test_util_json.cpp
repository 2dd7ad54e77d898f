#include "util/exception.hpp"
#include "util/json.hpp"

#include <gtest/gtest.h>

namespace tnw::util {
namespace {

TEST(Json, ReadsEveryKindOfValue) {
    JsonValue document = JsonValue::parse(" {\"a\": [1, -2.5e1, true, false, null], \"s\": "
                                          "\"x\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\", "
                                          "\"o\": {}, \"e\": []} ");
    ASSERT_TRUE(document.isObject());
    const auto& list = document["a"].array();
    ASSERT_EQ(list.size(), 5U);
    EXPECT_EQ(list[0].integer(), 1);
    EXPECT_EQ(list[1].number(), -25.0);
    EXPECT_EQ(list[1].integer(), -25);
    EXPECT_TRUE(list[2].boolean());
    EXPECT_FALSE(list[3].boolean());
    EXPECT_TRUE(list[4].isNull());
    EXPECT_EQ(document["s"].string(), "x\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_TRUE(document["o"].isObject());
    EXPECT_TRUE(document["e"].isArray());
    // Walking a shape that is not there reads as empty, never as a failure.
    EXPECT_TRUE(document["missing"]["deeper"].isNull());
    EXPECT_EQ(document["a"]["x"].string(), "");
    EXPECT_FALSE(document["s"].integer().has_value());
    EXPECT_FALSE(JsonValue::parse("1.5").integer().has_value());
}

TEST(Json, RefusesWhatIsNotJson) {
    const char* cases[] = {
        "",        "{",      "[1,]",        "{\"a\" 1}", "{\"a\": 1,}", "01",  "1.",
        "-",       "1e",     "\"\\x\"",     "\"a",       "\"\t\"",      "tru", "nul",
        "[1] [2]", "{1: 2}", "\"\\ud800\"", "\"\\u12\"", "1e999",       "+1",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        EXPECT_THROW(JsonValue::parse(text), ParseException);
    }
    EXPECT_THROW(JsonValue::parse(std::string(600, '[') + std::string(600, ']')), ParseException);
    EXPECT_NO_THROW(JsonValue::parse(std::string(500, '[') + std::string(500, ']')));
}

TEST(Json, QuotesText) {
    EXPECT_EQ(jsonQuote("a\"b\\c\n\x01\xC3\xA9"), "\"a\\\"b\\\\c\\u000a\\u0001\xC3\xA9\"");
    EXPECT_EQ(JsonValue::parse(jsonQuote("x\"\\\ty")).string(), "x\"\\\ty");
}

} // namespace
} // namespace tnw::util
