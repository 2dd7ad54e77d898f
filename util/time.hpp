// Points in time as microseconds since 1601-01-01 00:00 UTC (the scale peers exchange), and
// their calendar and text forms.
#pragma once

#include <cstdint>
#include <string>

namespace tnw::util {

// Microseconds between 1601-01-01 and 1970-01-01.
inline constexpr std::uint64_t kUnixEpochOffset = 11644473600000000ULL;

struct TimeFields {
    std::uint32_t year = 0;
    std::uint32_t month = 0;
    std::uint32_t day = 0;
    std::uint32_t hour = 0;
    std::uint32_t minute = 0;
    std::uint32_t second = 0;
    std::uint32_t millisecond = 0;
    std::uint32_t dayOfWeek = 0; // 0 = Sunday
};

class Time {
public:
    constexpr Time() = default;
    constexpr explicit Time(std::uint64_t microseconds) : value_(microseconds) {}

    // The system time (UTC).
    static Time now();
    static constexpr Time fromUnixMicroseconds(std::int64_t unix) {
        return Time(static_cast<std::uint64_t>(unix) + kUnixEpochOffset);
    }

    constexpr std::uint64_t value() const { return value_; }
    constexpr std::int64_t unixMicroseconds() const {
        return static_cast<std::int64_t>(value_ - kUnixEpochOffset);
    }

    // This UTC time shifted into the machine's local time zone (same scale), by the zone rules
    // (daylight saving included) in force at that moment. Clamped at the start of the scale.
    Time toLocal() const;
    // Calendar fields of this value, read as it stands (no zone conversion).
    TimeFields fields() const;
    // English (United States) long date and time, e.g. "Monday, March 6, 2017 9:05:03 AM";
    // the English message table is the only one the program ships.
    std::string toText() const;
    // "%u-%u-%04u %u:%02u:%02u" with day, month, year, hour, minute, second.
    std::string toShortText() const;

    friend constexpr auto operator<=>(Time, Time) = default;

private:
    std::uint64_t value_ = 0;
};

} // namespace tnw::util
