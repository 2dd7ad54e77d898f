#include "util/durations.hpp"

#include "util/format.hpp"

namespace tnw::util {

namespace {

constexpr std::uint64_t kMicrosecondsPerSecond = 1000000;

std::uint64_t roundedSeconds(std::uint64_t microseconds) {
    // Written so that the rounding cannot overflow near the top of the range.
    std::uint64_t seconds = microseconds / kMicrosecondsPerSecond;
    return microseconds % kMicrosecondsPerSecond >= kMicrosecondsPerSecond / 2 ? seconds + 1
                                                                               : seconds;
}

void appendPart(std::string& out, std::uint64_t count, const char* singular, const char* plural) {
    if (count != 0) {
        out += format(count == 1 ? singular : plural, count);
    }
}

} // namespace

std::string formatDuration(std::uint64_t microseconds) {
    std::uint64_t seconds = roundedSeconds(microseconds);
    return formatPrintf("%llu:%02u:%02u",
                        static_cast<unsigned long long>(seconds / 3600),
                        static_cast<unsigned>(seconds / 60 % 60),
                        static_cast<unsigned>(seconds % 60));
}

std::string formatDurationWords(std::uint64_t microseconds) {
    std::uint64_t seconds = roundedSeconds(microseconds);
    std::uint64_t minutes = seconds / 60;
    std::uint64_t days = minutes / 1440;
    std::string out;
    appendPart(out, days, "%1 day ", "%1 days ");
    appendPart(out, minutes / 60 - 24 * days, "%1 hour ", "%1 hours ");
    appendPart(out, minutes % 60, "%1 minute ", "%1 minutes ");
    appendPart(out, seconds % 60, "%1 second", "%1 seconds");
    return out;
}

std::string formatElapsed(std::uint64_t microseconds) {
    std::uint64_t seconds = microseconds / kMicrosecondsPerSecond;
    auto hours = static_cast<unsigned long long>(seconds / 3600);
    auto minutes = static_cast<unsigned>(seconds / 60 % 60);
    auto milliseconds = static_cast<unsigned>(microseconds / 1000 % 1000);
    if (hours != 0) {
        return formatPrintf("%llu:%02u:%02u:%03u",
                            hours,
                            minutes,
                            static_cast<unsigned>(seconds % 60),
                            milliseconds);
    }
    return formatPrintf(
        "%02u:%02u.%03u", minutes, static_cast<unsigned>(seconds % 60), milliseconds);
}

} // namespace tnw::util
