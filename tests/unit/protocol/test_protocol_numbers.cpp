#include <gtest/gtest.h>

#include "service/protocol/numbers.hpp"
#include "service/protocol/platform_name.hpp"

namespace plexmill::protocol {
namespace {

TEST(Numbers, UnsignedRule) {
    EXPECT_EQ(parseUnsigned("4294967295"), 4294967295U);
    EXPECT_EQ(parseUnsigned("4294967296"), std::nullopt);
    EXPECT_EQ(parseUnsigned("42949672950"), std::nullopt);
    EXPECT_EQ(parseUnsigned(""), std::nullopt);
    EXPECT_EQ(parseUnsigned("-1"), std::nullopt);
    EXPECT_EQ(parseUnsigned("007"), 7U);
}

TEST(Numbers, Unsigned64Rule) {
    EXPECT_EQ(parseUnsigned64("18446744073709551615"), 18446744073709551615ULL);
    EXPECT_EQ(parseUnsigned64("18446744073709551616"), std::nullopt);
    EXPECT_EQ(parseUnsigned64("4294967296"), 4294967296ULL);
    EXPECT_EQ(parseUnsigned64(""), std::nullopt);
    EXPECT_EQ(parseUnsigned64("-1"), std::nullopt);
    EXPECT_EQ(parseUnsigned64("1 "), std::nullopt);
}

TEST(Numbers, SignedRuleNeverOverflows) {
    EXPECT_EQ(parseSigned64("-"), 0);
    EXPECT_EQ(parseSigned64("-12"), -12);
    EXPECT_EQ(parseSigned64("9223372036854775807"), 9223372036854775807LL);
    EXPECT_EQ(parseSigned64("9223372036854775808"), std::nullopt);
    EXPECT_EQ(parseSigned64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(parseSigned64("-9223372036854775809"), std::nullopt);
    EXPECT_EQ(parseSigned64("99999999999999999999999"), std::nullopt);
    EXPECT_EQ(parseSigned64("+1"), std::nullopt);
    EXPECT_EQ(parseSigned64(""), std::nullopt);
}

TEST(Numbers, KeyValueSplitsAtTheFirstColon) {
    auto [key, value] = splitKeyValue("DESCRIPTION:a:b");
    EXPECT_EQ(key, "DESCRIPTION");
    EXPECT_EQ(value, "a:b");
    auto [alone, empty] = splitKeyValue("KEY");
    EXPECT_EQ(alone, "KEY");
    EXPECT_EQ(empty, "");
}

TEST(PlatformName, ExactCodes) {
    EXPECT_EQ(platformDisplayName("WIN32"), "Windows");
    EXPECT_EQ(platformDisplayName("LINUX"), "Linux");
    EXPECT_EQ(platformDisplayName("CYGWIN"), "Windows (Cygwin)");
    EXPECT_EQ(platformDisplayName("linux"), "Unknown");
    EXPECT_EQ(platformDisplayName(""), "Unknown");
}

} // namespace
} // namespace plexmill::protocol
