#include "service/protocol/measure_pattern.hpp"

#include <gtest/gtest.h>

namespace plexmill::protocol {
namespace {

TEST(MeasurePattern, PiecesAreAtMost64KiB) {
    const std::pair<std::uint64_t, std::size_t> cases[] = {
        {0, 0},
        {1, 1},
        {100, 100},
        {65535, 65535},
        {65536, 65536},
        {65636, 65536},
        {4294967295ULL, 65536},
    };
    for (const auto& [remaining, size] : cases) {
        SCOPED_TRACE(remaining);
        EXPECT_EQ(measurePiece(remaining).size(), size);
    }
}

TEST(MeasurePattern, EveryPieceCountsFromZero) {
    std::string_view piece = measurePiece(65536);
    for (std::size_t i = 0; i < piece.size(); ++i) {
        ASSERT_EQ(static_cast<unsigned char>(piece[i]), i % 256) << i;
    }
    EXPECT_EQ(measurePiece(3), std::string_view("\x00\x01\x02", 3));
}

} // namespace
} // namespace plexmill::protocol
