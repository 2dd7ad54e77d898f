#include "service/session/session_ids.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace plexmill::session {
namespace {

TEST(SessionIds, SameTickWaitsForTheNextReading) {
    std::vector<std::int64_t> readings = {500, 500, 500, 501, 501, 700};
    std::size_t next = 0;
    int pauses = 0;
    SessionIds ids([&] { return readings[next++]; }, [&] { ++pauses; });
    EXPECT_EQ(ids.next(), 500);
    EXPECT_EQ(ids.next(), 501);
    EXPECT_EQ(pauses, 2);
    EXPECT_EQ(ids.next(), 700);
    EXPECT_EQ(pauses, 3);
}

TEST(SessionIds, TheProcessIdsAreUniqueAndNumbersCountUp) {
    std::int64_t previous = sessionIds().next();
    for (int i = 0; i < 50; ++i) {
        std::int64_t id = sessionIds().next();
        EXPECT_GT(id, previous);
        previous = id;
    }
    std::uint32_t number = nextSessionNumber();
    EXPECT_EQ(nextSessionNumber(), number + 1);
}

} // namespace
} // namespace plexmill::session
