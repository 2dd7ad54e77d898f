#include "monitor/monitor_state.hpp"

#include <gtest/gtest.h>
#include <thread>

namespace plexmill::monitor {
namespace {

std::vector<std::string> numbered(int first, int last) {
    std::vector<std::string> texts;
    for (int number = last; number >= first; --number) {
        texts.push_back("s" + std::to_string(number));
    }
    return texts;
}

TEST(MonitorState, RecentListKeepsTheTwentyNewestNewestFirst) {
    MonitorState state;
    state.handOver({"a", "b"}, numbered(1, 3));
    EXPECT_EQ(state.activeCount(), 2U);
    EXPECT_EQ(state.lists().recent, (std::vector<std::string>{"s3", "s2", "s1"}));

    state.handOver({}, numbered(4, 21));
    auto lists = state.lists();
    EXPECT_TRUE(lists.active.empty());
    ASSERT_EQ(lists.recent.size(), 20U);
    EXPECT_EQ(lists.recent.front(), "s21");
    EXPECT_EQ(lists.recent.back(), "s2");

    state.handOver({"c"}, {});
    EXPECT_EQ(state.lists().recent.size(), 20U);
    state.clearLists();
    EXPECT_EQ(state.activeCount(), 0U);
    EXPECT_TRUE(state.lists().recent.empty());
}

TEST(MonitorState, QuitEndsAPauseAtOnce) {
    MonitorState state;
    EXPECT_FALSE(state.waitForQuit(std::chrono::milliseconds(1)));
    std::thread closer([&] { state.requestQuit(); });
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(state.waitForQuit(std::chrono::hours(1)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    closer.join();
    EXPECT_TRUE(state.quitRequested());
}

} // namespace
} // namespace plexmill::monitor
