#include "service/protocol/numbers.hpp"

#include <limits>

namespace plexmill::protocol {

std::optional<std::uint32_t> parseUnsigned(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        auto digit = static_cast<std::uint32_t>(c - '0');
        if (value > 429496729U || (value == 429496729U && digit > 5)) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::optional<std::int64_t> parseSigned64(std::string_view text) {
    bool negative = text.starts_with('-');
    if (negative) {
        text.remove_prefix(1);
        if (text.empty()) {
            return 0;
        }
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t magnitude = 0;
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : std::numeric_limits<std::int64_t>::max();
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (limit - digit) / 10) {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (negative) {
        return magnitude == (std::uint64_t{1} << 63) ? std::numeric_limits<std::int64_t>::min()
                                                     : -static_cast<std::int64_t>(magnitude);
    }
    return static_cast<std::int64_t>(magnitude);
}

std::pair<std::string_view, std::string_view> splitKeyValue(std::string_view line) {
    auto colon = line.find(':');
    if (colon == std::string_view::npos) {
        return {line, {}};
    }
    return {line.substr(0, colon), line.substr(colon + 1)};
}

} // namespace plexmill::protocol
