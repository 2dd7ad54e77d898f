// The bytes MEASURE sends to time a link: pieces of at most 64 KiB, each the byte values
// 0, 1, ... 255 over and over from its start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace plexmill::protocol {

inline constexpr std::size_t kMeasurePieceSize = 65536;

// The next piece when `remaining` bytes are still to be sent.
std::string_view measurePiece(std::uint64_t remaining);

} // namespace plexmill::protocol
