#include "util/sizes.hpp"

#include "util/format.hpp"

namespace tnw::util {

namespace {

struct Unit {
    int shift; // log2 of the unit
    const char* suffix;
};

// floor(bytes * scale / 2^shift), exactly; the plain product would overflow near 2^63.
std::uint64_t scaledUnits(std::uint64_t bytes, int shift, std::uint64_t scale) {
    std::uint64_t whole = bytes >> shift;
    std::uint64_t rest = bytes & ((std::uint64_t{1} << shift) - 1);
    return whole * scale + ((rest * scale) >> shift);
}

} // namespace

std::string formatSize(std::uint64_t bytes) {
    if (bytes < 1024) {
        return format("%1 b", bytes);
    }
    static constexpr Unit kUnits[] = {{10, " kb"}, {20, " Mb"}, {30, " Gb"}, {40, " Tb"}};
    const Unit* unit = &kUnits[0];
    while (unit != &kUnits[3] && bytes >= (std::uint64_t{1} << (unit->shift + 10))) {
        ++unit;
    }
    // The count is reduced to the unit below first, so the hundredths truncate twice.
    double hundredths = static_cast<double>((bytes >> (unit->shift - 10)) * 100 / 1024);
    return format("%1%2", hundredths / 100.0, unit->suffix);
}

std::string formatSizeShort(std::int64_t bytes) {
    if (bytes < 0) {
        return "0";
    }
    auto count = static_cast<std::uint64_t>(bytes);
    if (count < 1024) {
        return formatPrintf("%u bytes", static_cast<unsigned>(count));
    }
    static constexpr Unit kUnits[] = {{10, "kb"}, {20, "Mb"}, {30, "Gb"}};
    const Unit* unit = &kUnits[0];
    while (unit != &kUnits[2] && count >= (std::uint64_t{1} << (unit->shift + 10))) {
        ++unit;
    }
    double tenths = static_cast<double>(scaledUnits(count, unit->shift, 10));
    return format("%1%2", tenths / 10.0, unit->suffix);
}

} // namespace tnw::util
