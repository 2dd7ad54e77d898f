// The number and line rules shared by both sides of the session protocol and the discovery
// datagrams.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace plexmill::protocol {

// Unsigned decimal, digits only, not empty, at most 4294967295.
std::optional<std::uint32_t> parseUnsigned(std::string_view text);

// Unsigned decimal as above, at most 18446744073709551615.
std::optional<std::uint64_t> parseUnsigned64(std::string_view text);

// An optional "-" and decimal digits; a lone "-" reads 0. Values beyond 64 bits are not numbers
// (never undefined behaviour).
std::optional<std::int64_t> parseSigned64(std::string_view text);

// Splits "KEY:VALUE" at the first colon; a line without one is all key.
std::pair<std::string_view, std::string_view> splitKeyValue(std::string_view line);

} // namespace plexmill::protocol
