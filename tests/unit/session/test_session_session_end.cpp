#include "service/server/settings.hpp"
#include "service/session/session_end.hpp"
#include "service/session/session_thread.hpp"

#include <gtest/gtest.h>

namespace plexmill::session {
namespace {

using tnw::util::Time;

std::shared_ptr<Session> listedSession(server::Manager& manager, bool job, std::uint16_t port = 1) {
    auto session = createSession(manager, {}, {0x0A000001U, port});
    session->jobSession = job;
    return session;
}

TEST(SessionEnd, RecordsAJobSessionAtTheFront) {
    server::Manager manager;
    auto first = listedSession(manager, true, 1);
    auto second = listedSession(manager, true, 2);
    second->user = "bob";
    second->application = "cam";
    second->cpuTime = 7;
    second->memory = 8;
    second->bytesReceived = 9;
    second->bytesSent = 10;
    second->status = "Success";
    endSession(manager, *first, Time(100));
    endSession(manager, *second, Time(200));
    ASSERT_EQ(manager.history.size(), 2U);
    const auto& newest = manager.history.front();
    EXPECT_EQ(newest.peer.port, 2);
    EXPECT_EQ(newest.peer.address, 0x0A000001U);
    EXPECT_EQ(newest.user, "bob");
    EXPECT_EQ(newest.application, "cam");
    EXPECT_EQ(newest.startTime, second->startTime);
    EXPECT_EQ(newest.endTime, Time(200));
    EXPECT_EQ(newest.cpuTime, 7U);
    EXPECT_EQ(newest.memory, 8U);
    EXPECT_EQ(newest.bytesReceived, 9U);
    EXPECT_EQ(newest.bytesSent, 10U);
    EXPECT_EQ(newest.status, "Success");
    EXPECT_EQ(manager.history.back().endTime, Time(100));
    EXPECT_EQ(manager.history.back().status, "");
}

TEST(SessionEnd, HistoryKeepsTheNewestHundred) {
    server::Manager manager;
    for (std::uint64_t end = 1; end <= 101; ++end) {
        auto session = listedSession(manager, true);
        endSession(manager, *session, Time(end));
        EXPECT_LE(manager.history.size(), 100U);
    }
    ASSERT_EQ(manager.history.size(), 100U);
    EXPECT_EQ(manager.history.front().endTime, Time(101));
    EXPECT_EQ(manager.history.back().endTime, Time(2));
}

TEST(SessionEnd, OnlyJobSessionsAreRecorded) {
    server::Manager manager;
    auto query = listedSession(manager, false);
    endSession(manager, *query);
    EXPECT_TRUE(manager.history.empty());
}

TEST(SessionEnd, LeavesTheListAndReleasesItsThread) {
    server::Manager manager;
    auto staying = listedSession(manager, false);
    auto leaving = listedSession(manager, false);
    ASSERT_TRUE(leaving->thread.start([] { return 0U; }));
    leaving->thread.resume();
    manager.sessionsChanged = false;
    endSession(manager, *leaving);
    EXPECT_FALSE(leaving->thread.isValid());
    ASSERT_EQ(manager.sessions.size(), 1U);
    EXPECT_EQ(manager.sessions.front(), staying);
    EXPECT_TRUE(manager.sessionsChanged);
}

TEST(SessionEnd, CountsTerminatedSessionsThatKeptTheirConnection) {
    struct Case {
        bool terminated;
        bool disconnected;
        std::uint64_t failures;
    };
    const Case cases[] = {{false, false, 0}, {true, false, 1}, {true, true, 0}, {false, true, 0}};
    for (const auto& test : cases) {
        SCOPED_TRACE(testing::Message() << test.terminated << test.disconnected);
        server::Manager manager;
        auto session = listedSession(manager, false);
        session->terminated = test.terminated;
        session->disconnected = test.disconnected;
        endSession(manager, *session, Time(12345));
        EXPECT_EQ(manager.statistics.failures, test.failures);
        EXPECT_EQ(manager.statistics.lastFailure, Time(test.failures == 0 ? 0 : 12345));
    }
}

} // namespace
} // namespace plexmill::session
