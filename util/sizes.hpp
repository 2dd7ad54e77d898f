// Byte counts as people read them, in the two layouts the console and the monitor use.
#pragma once

#include <cstdint>
#include <string>

namespace tnw::util {

// "1023 b", "1.5 kb", "1023.99 kb", "2 Mb", "512 Mb", "1.5 Tb": at most two decimals, each
// truncated, a blank before the unit.
std::string formatSize(std::uint64_t bytes);

// "0" for a negative count, "512 bytes", then "1.5kb", "2Mb", "5120Gb" (no terabytes): at
// most one decimal, truncated, no blank before the unit.
std::string formatSizeShort(std::int64_t bytes);

} // namespace tnw::util
