#include "util/version.hpp"

#include <gtest/gtest.h>
#include <string>

namespace tnw::util {
namespace {

TEST(Version, TextsPeersAndOperatorsSee) {
    EXPECT_EQ(versionText(), "14.1.0 build 42604");
    EXPECT_EQ(std::string(kProductName) + " " + versionText(),
              "Quorvex Plexmill 14.1.0 build 42604");
    EXPECT_EQ(kRevision, 42604U);
}

} // namespace
} // namespace tnw::util
