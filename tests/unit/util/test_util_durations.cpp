#include "util/durations.hpp"

#include <cstdint>
#include <gtest/gtest.h>

namespace tnw::util {
namespace {

struct Case {
    std::uint64_t microseconds;
    const char* expected;
};

TEST(FormatDuration, RoundsHalfUpAndLetsHoursPassADay) {
    const Case cases[] = {
        {0, "0:00:00"},
        {499999, "0:00:00"},
        {500000, "0:00:01"},
        {59500000, "0:01:00"},
        {3599499999, "0:59:59"},
        {3600000000, "1:00:00"},
        {90061000000, "25:01:01"},
        // Rounding at the very top of the range must not wrap to zero.
        {UINT64_MAX, "5124095576:01:50"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.microseconds);
        EXPECT_EQ(formatDuration(c.microseconds), c.expected);
    }
}

TEST(FormatDurationWords, BuildsPartsWithSingularsAndTrailingBlanks) {
    const Case cases[] = {
        {90061000000, "1 day 1 hour 1 minute 1 second"},
        {7200000000, "2 hours "},
        {3900000000, "1 hour 5 minutes "},
        {172800000000, "2 days "},
        {499999, ""},
        {500000, "1 second"},
        {59500000, "1 minute "},
        {2000000, "2 seconds"},
        {86399500000, "1 day "},
        {180122000000, "2 days 2 hours 2 minutes 2 seconds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.microseconds);
        EXPECT_EQ(formatDurationWords(c.microseconds), c.expected);
    }
}

TEST(FormatElapsed, SwitchesLayoutAtOneHour) {
    const Case cases[] = {
        {3723004000, "1:02:03:004"},
        {63004000, "01:03.004"},
        {0, "00:00.000"},
        {999999, "00:00.999"}, // truncated, not rounded
        {3599999999, "59:59.999"},
        {3600000000, "1:00:00:000"},
        {90061000000, "25:01:01:000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.microseconds);
        EXPECT_EQ(formatElapsed(c.microseconds), c.expected);
    }
}

} // namespace
} // namespace tnw::util
