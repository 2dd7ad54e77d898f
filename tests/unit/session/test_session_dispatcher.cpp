#include "service/server/settings.hpp"
#include "service/session/session_thread.hpp"
#include "tests/support/socket_pair.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/sync.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace plexmill::session {
namespace {

const std::string kUri = "http://quorvex.example/namespace/quorvexmill/pmd\n";

// A session served by its dispatcher on a thread, with the client's end in the test's hands.
struct DispatcherTest : testing::Test {
    DispatcherTest() {
        server::settings() = server::Settings{};
        manager.config.intermediateFolder = folder.path().string();
        manager.config.maximumSessions = 1;
        manager.config.minimumSystemMemory = 0;
    }
    ~DispatcherTest() override {
        if (thread.joinable()) {
            pair.closeClient();
            thread.join();
        }
        server::settings() = server::Settings{};
    }

    void start() {
        session = createSession(manager, pair.server, {0x7F000001U, 5000});
        thread = std::thread([served = session] { runSession(*served); });
    }
    // Waits for the session thread to end.
    void finish() { thread.join(); }

    tnw::test::TempFolder folder;
    server::Manager manager;
    tnw::test::SocketPair pair;
    std::shared_ptr<Session> session;
    std::thread thread;
};

TEST_F(DispatcherTest, AvailableFollowsTheAcceptingRule) {
    start();
    pair.send(kUri + "AVAILABLE\n");
    EXPECT_EQ(pair.receive(kUri.size() + 4), kUri + "ACK\n");
    manager.cpuUsage = 0.9;
    pair.send("AVAILABLE\n");
    EXPECT_EQ(pair.receive(1), "\n");
    manager.cpuUsage = 0.0;
    pair.send("DONE\n");
    EXPECT_EQ(pair.receiveUntilEnd(), "ACK\n");
    pair.closeClient();
    finish();
    EXPECT_EQ(session->status, "Success");
    EXPECT_FALSE(session->terminated);
    EXPECT_EQ(manager.statistics.failures, 0U);
    EXPECT_TRUE(manager.sessions.empty());
    EXPECT_FALSE(std::filesystem::exists(session->folder));
}

TEST_F(DispatcherTest, TrafficReachesTheServerTotals) {
    start();
    pair.send(kUri + "IS_ALIVE\nDONE\n");
    EXPECT_EQ(pair.receiveUntilEnd(), kUri + "ACK\nACK\n");
    pair.closeClient();
    finish();
    EXPECT_EQ(manager.statistics.dataReceived, kUri.size() + 14);
    EXPECT_EQ(manager.statistics.dataSent, kUri.size() + 8);
}

TEST_F(DispatcherTest, AFailedCommandCountsAsAFailure) {
    start();
    pair.send(kUri + "REVISION\nx1\nIS_ALIVE\n");
    // The loop ends after the refusal: no answer to IS_ALIVE, the sending side shuts down.
    EXPECT_EQ(pair.receiveUntilEnd(), kUri + "\n");
    pair.closeClient();
    finish();
    EXPECT_EQ(session->status, "Session terminated");
    EXPECT_EQ(manager.statistics.failures, 1U);
}

TEST_F(DispatcherTest, AnUnknownCommandEndsTheSessionAtOnce) {
    start();
    pair.send(kUri + "BOGUS\nIS_ALIVE\n");
    // Closed without waiting for the client, and not counted as a failure.
    finish();
    EXPECT_EQ(pair.receiveUntilEnd(), kUri);
    EXPECT_EQ(session->status, "");
    EXPECT_EQ(manager.statistics.failures, 0U);
}

TEST_F(DispatcherTest, AbortEndsWithoutWaitingForTheClient) {
    start();
    pair.send(kUri + "ABORT\n");
    finish();
    EXPECT_EQ(pair.receiveUntilEnd(), kUri + "ACK\n");
    EXPECT_TRUE(session->aborted);
    EXPECT_EQ(session->status, "");
}

TEST_F(DispatcherTest, StoppingTheServerDisconnectsAWaitingSession) {
    start();
    pair.send(kUri);
    EXPECT_EQ(pair.receive(kUri.size()), kUri);
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        session->aborted = true;
        session->close();
    }
    finish();
    EXPECT_TRUE(session->disconnected);
    EXPECT_EQ(session->status, "Disconnected");
    EXPECT_EQ(manager.statistics.failures, 0U);
}

TEST_F(DispatcherTest, NoFolderMeansNoHandshake) {
    manager.config.intermediateFolder = (folder.path() / "file").string();
    tnw::test::writeFile(folder.path() / "file", "not a folder");
    start();
    // The session ends by itself, before the client could even greet it.
    finish();
    EXPECT_EQ(pair.receiveUntilEnd(), "");
    EXPECT_TRUE(manager.sessions.empty());
}

TEST_F(DispatcherTest, SecondUserIsRefusedAndTheFirstStays) {
    start();
    pair.send(kUri + "USER\n-/\nUSER\nJohn Doe-Smith/2\nUSER\nMallory\nDONE\n");
    EXPECT_EQ(pair.receiveUntilEnd(), kUri + "ACK\nACK\n\nACK\n");
    pair.closeClient();
    finish();
    EXPECT_EQ(session->user, "John DoeSmith2");
}

} // namespace
} // namespace plexmill::session
