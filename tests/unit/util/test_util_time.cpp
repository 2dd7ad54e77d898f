#include "tests/support/zone_scope.hpp"
#include "util/time.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <time.h>

namespace tnw::util {
namespace {

// Unix seconds below were computed with python3's datetime in UTC.
Time at(std::int64_t unixSeconds, std::int64_t microseconds = 0) {
    return Time::fromUnixMicroseconds(unixSeconds * 1000000 + microseconds);
}

using tnw::test::ZoneScope;

TEST(Time, FieldsOfCalendarDates) {
    struct Case {
        const char* name;
        Time time;
        TimeFields expected;
    };
    const Case cases[] = {
        {"start of the scale", Time(0), {1601, 1, 1, 0, 0, 0, 0, 1}},
        {"unix epoch", at(0), {1970, 1, 1, 0, 0, 0, 0, 4}},
        {"morning", at(1488791103, 4999), {2017, 3, 6, 9, 5, 3, 4, 1}},
        {"leap day", at(951868799, 999999), {2000, 2, 29, 23, 59, 59, 999, 2}},
        {"2100 is no leap year", at(4107542400), {2100, 3, 1, 0, 0, 0, 0, 1}},
        {"before 1970", at(-2203846200), {1900, 3, 1, 12, 30, 0, 0, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TimeFields f = c.time.fields();
        EXPECT_EQ(f.year, c.expected.year);
        EXPECT_EQ(f.month, c.expected.month);
        EXPECT_EQ(f.day, c.expected.day);
        EXPECT_EQ(f.hour, c.expected.hour);
        EXPECT_EQ(f.minute, c.expected.minute);
        EXPECT_EQ(f.second, c.expected.second);
        EXPECT_EQ(f.millisecond, c.expected.millisecond);
        EXPECT_EQ(f.dayOfWeek, c.expected.dayOfWeek);
    }
}

TEST(Time, EndOfTheScaleStillHasADate) {
    // Far beyond std::chrono::year; python3 counted 400-year cycles of 146097 days and took
    // the rest with datetime.
    TimeFields f = Time(UINT64_MAX).fields();
    EXPECT_EQ(f.year, 586155U);
    EXPECT_EQ(f.month, 1U);
    EXPECT_EQ(f.day, 19U);
    EXPECT_EQ(f.hour, 8U);
    EXPECT_EQ(f.minute, 1U);
    EXPECT_EQ(f.second, 49U);
    EXPECT_EQ(f.millisecond, 551U);
    EXPECT_EQ(f.dayOfWeek, 0U);
}

TEST(Time, LongTextInEnglish) {
    EXPECT_EQ(at(1488791103).toText(), "Monday, March 6, 2017 9:05:03 AM");
    EXPECT_EQ(at(1488805445).toText(), "Monday, March 6, 2017 1:04:05 PM");
    EXPECT_EQ(at(1484438400).toText(), "Sunday, January 15, 2017 12:00:00 AM");
    EXPECT_EQ(at(1484481600).toText(), "Sunday, January 15, 2017 12:00:00 PM");
}

TEST(Time, ShortTextWithoutPadding) {
    EXPECT_EQ(at(1488791100).toShortText(), "6-3-2017 9:05:00");
    EXPECT_EQ(Time(0).toShortText(), "1-1-1601 0:00:00");
    EXPECT_EQ(at(951868799).toShortText(), "29-2-2000 23:59:59");
}

TEST(Time, ToLocalFollowsTheZoneRulesOfThatMoment) {
    ZoneScope zone("EST5EDT,M3.2.0,M11.1.0");
    struct Case {
        const char* name;
        Time utc;
        const char* local;
    };
    const Case cases[] = {
        {"winter", at(1484481600), "15-1-2017 7:00:00"},
        {"summer", at(1500120000), "15-7-2017 8:00:00"},
        {"last second of standard time", at(1489301999), "12-3-2017 1:59:59"},
        {"first second of daylight time", at(1489302000), "12-3-2017 3:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.utc.toLocal().toShortText(), c.local);
    }
    // Shifting back from the start of the scale stays at the start.
    EXPECT_EQ(Time(0).toLocal().value(), 0U);
}

TEST(Time, ToLocalAddsEastOfGreenwich) {
    ZoneScope zone("IST-5:30");
    EXPECT_EQ(at(1488791103).toLocal().toShortText(), "6-3-2017 14:35:03");
    EXPECT_EQ(at(1488791103, 123456).toLocal().fields().millisecond, 123U);
}

} // namespace
} // namespace tnw::util
