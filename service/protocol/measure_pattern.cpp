#include "service/protocol/measure_pattern.hpp"

#include <algorithm>
#include <array>

namespace plexmill::protocol {

namespace {

const std::array<char, kMeasurePieceSize>& pattern() {
    static const auto bytes = [] {
        std::array<char, kMeasurePieceSize> filled{};
        for (std::size_t i = 0; i < filled.size(); ++i) {
            filled[i] = static_cast<char>(i % 256);
        }
        return filled;
    }();
    return bytes;
}

} // namespace

std::string_view measurePiece(std::uint64_t remaining) {
    auto size = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kMeasurePieceSize));
    return {pattern().data(), size};
}

} // namespace plexmill::protocol
