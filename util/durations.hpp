// Durations (microsecond counts) as people read them.
#pragma once

#include <cstdint>
#include <string>

namespace tnw::util {

// Whole seconds, half up, as "h:mm:ss"; hours do not wrap at 24 ("25:01:01").
std::string formatDuration(std::uint64_t microseconds);

// Whole seconds, half up, as "1 day 2 hours 3 minutes 4 seconds"; parts that are 0 are left
// out, and every part but the seconds ends in a blank ("2 hours "). Under half a second the
// text is empty.
std::string formatDurationWords(std::uint64_t microseconds);

// Truncated to milliseconds: "mm:ss.mmm" under an hour, "h:mm:ss:mmm" (a colon before the
// milliseconds) from one hour on.
std::string formatElapsed(std::uint64_t microseconds);

} // namespace tnw::util
