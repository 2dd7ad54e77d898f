#include "util/time.hpp"

#include "util/clock.hpp"

#include "util/format.hpp"

#include <time.h>

namespace tnw::util {

namespace {

constexpr std::uint64_t kMicrosecondsPerSecond = 1000000;
constexpr std::uint64_t kSecondsPerDay = 86400;
// 1970-01-01 counted in days from 1601-01-01.
constexpr std::int64_t kUnixEpochDay = 134774;

constexpr const char* kDayNames[] = {
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* kMonthNames[] = {"January",
                                       "February",
                                       "March",
                                       "April",
                                       "May",
                                       "June",
                                       "July",
                                       "August",
                                       "September",
                                       "October",
                                       "November",
                                       "December"};

std::int64_t floorDivide(std::int64_t value, std::int64_t divisor) {
    std::int64_t quotient = value / divisor;
    return (value % divisor < 0) ? quotient - 1 : quotient;
}

// Proleptic Gregorian date of a day counted from 1970-01-01 (H. Hinnant's civil_from_days),
// in 64-bit arithmetic because the scale reaches far beyond std::chrono::year's range.
void setDate(TimeFields& fields, std::int64_t unixDay) {
    std::int64_t z = unixDay + 719468;
    std::int64_t era = floorDivide(z, 146097);
    std::int64_t dayOfEra = z - era * 146097;
    std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153; // March = 0
    std::int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    fields.year = static_cast<std::uint32_t>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    fields.month = static_cast<std::uint32_t>(month);
    fields.day = static_cast<std::uint32_t>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
}

} // namespace

Time Time::now() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return fromUnixMicroseconds(static_cast<std::int64_t>(now.tv_sec) * 1000000 +
                                now.tv_nsec / 1000 + static_cast<std::int64_t>(clockShift()));
}

Time Time::toLocal() const {
    time_t seconds = floorDivide(unixMicroseconds(), kMicrosecondsPerSecond);
    tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) {
        return *this;
    }
    std::int64_t shift = static_cast<std::int64_t>(local.tm_gmtoff) * 1000000;
    if (shift < 0 && value_ < static_cast<std::uint64_t>(-shift)) {
        return Time(0);
    }
    return Time(value_ + static_cast<std::uint64_t>(shift));
}

TimeFields Time::fields() const {
    TimeFields fields;
    std::uint64_t seconds = value_ / kMicrosecondsPerSecond;
    std::uint64_t day = seconds / kSecondsPerDay;
    std::uint64_t secondOfDay = seconds % kSecondsPerDay;
    setDate(fields, static_cast<std::int64_t>(day) - kUnixEpochDay);
    fields.hour = static_cast<std::uint32_t>(secondOfDay / 3600);
    fields.minute = static_cast<std::uint32_t>(secondOfDay / 60 % 60);
    fields.second = static_cast<std::uint32_t>(secondOfDay % 60);
    fields.millisecond = static_cast<std::uint32_t>(value_ / 1000 % 1000);
    // 1601-01-01 was a Monday.
    fields.dayOfWeek = static_cast<std::uint32_t>((day + 1) % 7);
    return fields;
}

std::string Time::toText() const {
    TimeFields f = fields();
    std::uint32_t hour12 = f.hour % 12 == 0 ? 12 : f.hour % 12;
    return formatPrintf("%s, %s %u, %u %u:%02u:%02u %s",
                        kDayNames[f.dayOfWeek],
                        kMonthNames[f.month - 1],
                        f.day,
                        f.year,
                        hour12,
                        f.minute,
                        f.second,
                        f.hour < 12 ? "AM" : "PM");
}

std::string Time::toShortText() const {
    TimeFields f = fields();
    return formatPrintf(
        "%u-%u-%04u %u:%02u:%02u", f.day, f.month, f.year, f.hour, f.minute, f.second);
}

} // namespace tnw::util
