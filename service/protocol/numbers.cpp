#include "service/protocol/numbers.hpp"

#include <limits>

namespace plexmill::protocol {

namespace {

// Decimal digits only, not empty, at most `limit`.
std::optional<std::uint64_t> parseDigits(std::string_view text, std::uint64_t limit) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (limit - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

} // namespace

std::optional<std::uint32_t> parseUnsigned(std::string_view text) {
    auto value = parseDigits(text, std::numeric_limits<std::uint32_t>::max());
    return value ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*value)) : std::nullopt;
}

std::optional<std::uint64_t> parseUnsigned64(std::string_view text) {
    return parseDigits(text, std::numeric_limits<std::uint64_t>::max());
}

std::optional<std::int64_t> parseSigned64(std::string_view text) {
    bool negative = text.starts_with('-');
    if (negative) {
        text.remove_prefix(1);
        if (text.empty()) {
            return 0;
        }
    }
    const std::uint64_t limit =
        negative ? std::uint64_t{1} << 63 : std::numeric_limits<std::int64_t>::max();
    auto magnitude = parseDigits(text, limit);
    if (!magnitude) {
        return std::nullopt;
    }
    if (negative) {
        return *magnitude == (std::uint64_t{1} << 63) ? std::numeric_limits<std::int64_t>::min()
                                                      : -static_cast<std::int64_t>(*magnitude);
    }
    return static_cast<std::int64_t>(*magnitude);
}

std::pair<std::string_view, std::string_view> splitKeyValue(std::string_view line) {
    auto colon = line.find(':');
    if (colon == std::string_view::npos) {
        return {line, {}};
    }
    return {line.substr(0, colon), line.substr(colon + 1)};
}

} // namespace plexmill::protocol
