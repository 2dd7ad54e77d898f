#include "util/sizes.hpp"

#include <cstdint>
#include <gtest/gtest.h>

namespace tnw::util {
namespace {

TEST(FormatSize, PicksTheUnitAndTruncatesToTwoDecimals) {
    struct Case {
        std::uint64_t bytes;
        const char* expected;
    };
    const Case cases[] = {
        {0, "0 b"},
        {1023, "1023 b"},
        {1024, "1 kb"},
        {1536, "1.5 kb"},
        {1048575, "1023.99 kb"},
        {1048576, "1 Mb"},
        // Reduced to whole kilobytes before the hundredths are taken: 1.0107 Mb shows as 1.
        {1059839, "1 Mb"},
        {2097152, "2 Mb"},
        {536870912, "512 Mb"},
        {1073741824, "1 Gb"},
        {1099511627775, "1023.99 Gb"},
        {1649267441664, "1.5 Tb"},
        {UINT64_MAX, "1.67772e+07 Tb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(formatSize(c.bytes), c.expected);
    }
}

TEST(FormatSizeShort, PicksTheUnitUpToGigabytesAndTruncatesToOneDecimal) {
    struct Case {
        std::int64_t bytes;
        const char* expected;
    };
    const Case cases[] = {
        {-1, "0"},
        {INT64_MIN, "0"},
        {0, "0 bytes"},
        {1023, "1023 bytes"},
        {1024, "1kb"},
        {1536, "1.5kb"},
        {1048575, "1023.9kb"},
        {1048576, "1Mb"},
        {1572864, "1.5Mb"},
        {5497558138880, "5120Gb"}, // 5 * 2^40: no terabyte step
        {INT64_MAX, "8.58993e+09Gb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(formatSizeShort(c.bytes), c.expected);
    }
}

} // namespace
} // namespace tnw::util
