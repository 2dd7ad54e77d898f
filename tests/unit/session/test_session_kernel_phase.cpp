#include "service/server/settings.hpp"
#include "service/session/kernel_phase.hpp"
#include "tests/support/socket_pair.hpp"

#include <gtest/gtest.h>

namespace plexmill::session {
namespace {

TEST(KernelPhase, TheWatcherAbortsOnAnythingButAck) {
    struct Case {
        std::string sent;
        bool aborted;
    };
    const Case cases[] = {
        {"ACK\n", false},
        {"ABORT\n", true},
        {"DONE\n", true},
        {"ACK\r\n", true},
        {"\n", true},
        {"", true},
        {std::string(1024, 'a') + "\n", true},
    };
    server::settings() = server::Settings{};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.sent);
        server::Manager manager;
        tnw::test::SocketPair pair;
        Session session(manager, pair.server, {});
        pair.send(test.sent);
        pair.shutdownClient();
        watchKernelPhase(session);
        EXPECT_EQ(session.aborted, test.aborted);
    }
}

TEST(KernelPhase, TheWatcherOfAnAbortedSessionReadsNothing) {
    server::Manager manager;
    tnw::test::SocketPair pair;
    Session session(manager, pair.server, {});
    session.aborted = true;
    pair.send("ACK\n");
    watchKernelPhase(session);
    EXPECT_EQ(session.readLine(), "ACK");
}

TEST(KernelPhase, ALostConnectionAborts) {
    server::Manager manager;
    tnw::test::SocketPair pair;
    Session session(manager, pair.server, {});
    session.close();
    watchKernelPhase(session);
    EXPECT_TRUE(session.aborted);
}

} // namespace
} // namespace plexmill::session
