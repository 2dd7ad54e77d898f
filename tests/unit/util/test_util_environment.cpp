#include "tests/support/child_process.hpp"
#include "util/environment.hpp"

#include <algorithm>
#include <gtest/gtest.h>

namespace tnw::util {
namespace {

TEST(Environment, SetAndGetVariables) {
    EXPECT_EQ(getEnvironment("PLEXMILL_SURELY_UNSET"), "");
    ASSERT_TRUE(setEnvironment("PLEXMILL_VALUE", "a value with = and spaces"));
    EXPECT_EQ(getEnvironment("PLEXMILL_VALUE"), "a value with = and spaces");
    std::string longValue(5000, 'v'); // longer than any fixed buffer would hold
    ASSERT_TRUE(setEnvironment("PLEXMILL_VALUE", longValue));
    EXPECT_EQ(getEnvironment("PLEXMILL_VALUE"), longValue);
    EXPECT_FALSE(setEnvironment("", "x"));
    EXPECT_FALSE(setEnvironment("A=B", "x"));
    auto block = environmentBlock();
    EXPECT_NE(std::find(block.begin(), block.end(), "PLEXMILL_VALUE=" + longValue), block.end());
}

TEST(Environment, UserNameMatchesId) {
    auto result = test::run({"id", "-un"});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(userName() + "\n", result.output);
}

} // namespace
} // namespace tnw::util
