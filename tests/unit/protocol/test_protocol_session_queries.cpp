#include "service/protocol/session_queries.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace plexmill::protocol {
namespace {

TEST(SessionReplies, UnknownSessionIsTheEmptyLine) {
    EXPECT_EQ(sessionInfoReply(nullptr), "\n");
}

TEST(SessionReplies, SessionInfoWithEveryLine) {
    LiveSession session{0xC0A8011BU,
                        51234,
                        "CAM suite 2.1",
                        "John DoeSmith2",
                        13441110748514646ULL,
                        false,
                        3004000,
                        1572864,
                        0.125};
    EXPECT_EQ(sessionInfoReply(&session),
              "HOST:192.168.1.27:51234\n"
              "APPLICATION:CAM suite 2.1\n"
              "USER:John DoeSmith2\n"
              "SINCE:13441110748514646\n"
              "STATE:PROCESSING\n"
              "PROCESSING_TIME:3004000\n"
              "MEMORY_USAGE:1572864\n"
              "CPU_USAGE:0.125\n"
              "\n");
}

TEST(SessionReplies, SessionInfoLeavesOutWhatIsEmpty) {
    LiveSession session{0x7F000001U, 7, "", "", 5, true, 0, 0, 0.0};
    EXPECT_EQ(sessionInfoReply(&session), "HOST:127.0.0.1:7\nSINCE:5\nSTATE:WAITING\n\n");
    session.cpuUsage = -0.5;
    session.application = "app";
    EXPECT_EQ(sessionInfoReply(&session),
              "HOST:127.0.0.1:7\nAPPLICATION:app\nSINCE:5\nSTATE:WAITING\n\n");
}

std::vector<FinishedSession> history() {
    return {
        {0x0A000003U, 3, "app", "carol", 250, 300},
        {0x0A000002U, 2, "", "bob", 150, 200},
        {0x0A000001U, 1, "", "", 50, 100},
    };
}

TEST(SessionReplies, HistoryListsNewestFirstUntilTheFirstOlderRecord) {
    const std::string newest =
        "HOST:10.0.0.3:3\nAPPLICATION:app\nUSER:carol\nSTARTED:250\nCOMPLETED:300\n\n";
    const std::string middle = "HOST:10.0.0.2:2\nUSER:bob\nSTARTED:150\nCOMPLETED:200\n\n";
    const std::string oldest = "HOST:10.0.0.1:1\nSTARTED:50\nCOMPLETED:100\n\n";
    auto records = history();
    const std::pair<std::int64_t, std::string> cases[] = {
        {0, newest + middle + oldest + "\n"},
        {-9223372036854775807LL - 1, newest + middle + oldest + "\n"},
        {100, newest + middle + oldest + "\n"},
        {101, newest + middle + "\n"},
        {200, newest + middle + "\n"},
        {300, newest + "\n"},
        {301, "\n"},
    };
    for (const auto& [since, reply] : cases) {
        SCOPED_TRACE(since);
        EXPECT_EQ(sessionHistoryReply(records, since), reply);
    }
}

TEST(SessionReplies, HistoryStopsAtTheFirstOlderRecordEvenIfLaterOnesAreNewer) {
    auto records = history();
    records.push_back({0x0A000009U, 9, "", "", 900, 1000});
    EXPECT_EQ(sessionHistoryReply(records, 250),
              "HOST:10.0.0.3:3\nAPPLICATION:app\nUSER:carol\nSTARTED:250\nCOMPLETED:300\n\n\n");
}

TEST(SessionReplies, EmptyHistoryIsOneEmptyLine) {
    EXPECT_EQ(sessionHistoryReply({}, 0), "\n");
}

TEST(SessionReplies, HostText) {
    EXPECT_EQ(hostText(0xC0A8011BU, 51234), "192.168.1.27:51234");
    EXPECT_EQ(hostText(0, 0), "0.0.0.0:0");
    EXPECT_EQ(hostText(0xFFFFFFFFU, 65535), "255.255.255.255:65535");
}

} // namespace
} // namespace plexmill::protocol
