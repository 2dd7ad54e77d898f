// The session protocol against a real plexmilld --console: handshake, line rules, the link
// commands, DONE and ABORT, time-outs, and sessions that vanish in the middle of a command.
#include "tests/support/session_client.hpp"
#include "tests/support/session_server.hpp"
#include "tests/support/temp_folder.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <thread>

namespace tnw::test {
namespace {

std::size_t threadCount(pid_t pid) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        ++count;
    }
    return count;
}

TEST(SessionProtocol, WithoutHandshakeTheConnectionClosesWithoutReply) {
    SessionServer server({"--verbose"});
    ASSERT_TRUE(server.ready());
    for (const char* first :
         {"INFO\n", "\n", "http://quorvex.example/namespace/quorvexmill/pmd\r\n"}) {
        SCOPED_TRACE(first);
        SessionClient client;
        client.send(first);
        EXPECT_EQ(client.receiveUntilEnd(), "");
        EXPECT_TRUE(client.endedByServer());
    }
    EXPECT_TRUE(server.process().waitForOutput("Invalid client connection.\n"));
    EXPECT_TRUE(waitForOpenSessions("1"));
}

TEST(SessionProtocol, BothNamespacesAreEchoed) {
    SessionServer server;
    ASSERT_TRUE(server.ready());
    for (auto uri : {kCurrentNamespaceUri, kLegacyNamespaceUri}) {
        SCOPED_TRACE(uri);
        SessionClient client;
        EXPECT_EQ(client.handshake(uri), std::string(uri) + "\n");
        client.send("IS_ALIVE\n");
        EXPECT_EQ(client.receiveLine(), "ACK\n");
    }
}

TEST(SessionProtocol, UnknownLinesEndTheSessionButNotTheServer) {
    SessionServer server({"--verbose"});
    ASSERT_TRUE(server.ready());
    struct Case {
        std::string line;
        std::string printed;
    };
    const std::string longest(1023, 'x');
    const Case cases[] = {
        {"INFO\r", "Invalid command: 'INFO\r'.\n"},
        {"info", "Invalid command: 'info'.\n"},
        {longest, "Invalid command: '" + longest + "'.\n"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.line.substr(0, 10));
        SessionClient client;
        client.handshake();
        client.send(test.line + "\n");
        EXPECT_EQ(client.receiveUntilEnd(), "");
        EXPECT_TRUE(client.endedByServer());
        EXPECT_TRUE(server.process().waitForOutput(test.printed));
    }
    SessionClient after;
    EXPECT_EQ(after.handshake(), std::string(kCurrentNamespaceUri) + "\n");
}

TEST(SessionProtocol, OverlongLineReadsAsEmptyAndEndsTheCommandPhase) {
    SessionServer server({"--verbose"});
    ASSERT_TRUE(server.ready());
    SessionClient client;
    client.handshake();
    client.send(std::string(1024, 'y') + "\n");
    EXPECT_EQ(client.receiveUntilEnd(), "");
    EXPECT_TRUE(client.endedByServer());
    EXPECT_TRUE(waitForOpenSessions("1"));
    EXPECT_EQ(server.output().find("Invalid command: 'yyy"), std::string::npos);
}

TEST(SessionProtocol, DoneWithoutJobAcksThenWaitsForTheClientToClose) {
    SessionServer server;
    ASSERT_TRUE(server.ready());
    SessionClient client;
    client.handshake();
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    EXPECT_TRUE(client.endedByServer());
    // The server has shut down only its sending side: the session lives until the client goes.
    EXPECT_EQ(openSessions(), "2");
    client.close();
    EXPECT_TRUE(waitForOpenSessions("1"));
}

TEST(SessionProtocol, AbortAcksAndClosesAtOnce) {
    SessionServer server;
    ASSERT_TRUE(server.ready());
    SessionClient client;
    client.handshake();
    client.send("ABORT\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    EXPECT_TRUE(client.endedByServer());
    EXPECT_TRUE(waitForOpenSessions("1"));
}

TEST(SessionProtocol, LinkChecks) {
    TempFolder kernels;
    struct Case {
        std::vector<std::string> arguments;
        const char* acceptRemote;
    };
    const Case cases[] = {
        {{}, "ACK\n"},
        {{"--kernel", kernels.path().string()}, "\n"},
        {{"--include", kernels.path().string()}, "\n"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.acceptRemote);
        SessionServer server(test.arguments);
        ASSERT_TRUE(server.ready());
        SessionClient client;
        client.handshake();
        client.send("IS_ALIVE\nARCH\nACCEPT_REMOTE\n");
        std::string expected = std::string("ACK\nX64\n") + test.acceptRemote;
        EXPECT_EQ(client.receive(expected.size()), expected);
        EXPECT_TRUE(client.staysQuiet());
    }
}

TEST(SessionProtocol, ArchOnAnX86ServerSendsNothing) {
    SessionServer server({"--x86"});
    ASSERT_TRUE(server.ready());
    SessionClient client;
    client.handshake();
    client.send("ARCH\nIS_ALIVE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    EXPECT_TRUE(server.process().waitForOutput("Invalid Plexmill architecture\n"));
}

TEST(SessionProtocol, AvailableIsRefusedWithoutEnoughMemory) {
    SessionServer server({}, {{"minimum system memory", 0xFFFFFFFFU}});
    ASSERT_TRUE(server.ready());
    SessionClient client;
    client.handshake();
    client.send("AVAILABLE\nIS_ALIVE\n");
    EXPECT_EQ(client.receive(5), "\nACK\n");
}

TEST(SessionProtocol, DebugEchoesCommandsExceptTheFrequentQueries) {
    SessionServer server({"--debug"});
    ASSERT_TRUE(server.ready());
    SessionClient client;
    client.handshake();
    client.send("USAGE_INFO\nIS_ALIVE\n");
    client.receiveBlock();
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    EXPECT_TRUE(server.process().waitForOutput("Got command 'IS_ALIVE'.\n"));
    std::string output = server.output();
    EXPECT_TRUE(std::regex_search(
        output, std::regex(R"(\[\d{1,2}:\d\d:\d\d/1\] Got command 'IS_ALIVE'\.\n)")))
        << output;
    EXPECT_EQ(output.find("Got command 'USAGE_INFO'"), std::string::npos);
}

// The listen backlog is the session limit: a burst of connections needs room in it.
const std::map<std::string, std::uint32_t> kRoomForBursts = {{"maximum number of sessions", 40}};

TEST(SessionProtocol, SessionsOpenedTogetherGetDifferentIds) {
    SessionServer server({}, kRoomForBursts);
    ASSERT_TRUE(server.ready());
    std::vector<std::unique_ptr<SessionClient>> clients;
    for (int i = 0; i < 20; ++i) {
        clients.push_back(std::make_unique<SessionClient>());
    }
    for (auto& client : clients) {
        EXPECT_EQ(client->handshake(), std::string(kCurrentNamespaceUri) + "\n");
    }
    auto folders = sessionFolders(server.home());
    EXPECT_EQ(folders.size(), 20U);
    for (const auto& name : folders) {
        EXPECT_TRUE(std::regex_match(name, std::regex("session-[0-9a-f]{16}"))) << name;
    }
    clients.clear();
    EXPECT_TRUE(waitForOpenSessions("1"));
    EXPECT_TRUE(waitForNoSessionFolders(server.home()));
}

TEST(SessionProtocol, SessionsTimeOutAtTheHousekeepingTick) {
    SessionServer server({"--timeout", "1"});
    ASSERT_TRUE(server.ready());
    SessionClient client;
    client.handshake();
    // A first command in time, or the session would end for want of one.
    client.send("IS_ALIVE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    server.home().advanceClock(61'000'000);
    std::this_thread::sleep_for(100ms);
    server.home().advanceClock(31'000'000);
    ASSERT_TRUE(server.process().waitForOutput("] Session timed out.\n"));
    EXPECT_TRUE(std::regex_search(
        server.output(), std::regex(R"(\[\d{1,2}:\d\d:\d\d/\d+\] Session timed out\.\n)")));
    // An aborted session still answers commands; DONE then closes without waiting for the client.
    client.send("IS_ALIVE\nDONE\n");
    EXPECT_EQ(client.receive(8), "ACK\nACK\n");
    EXPECT_TRUE(client.endedByServer());
    EXPECT_TRUE(waitForOpenSessions("1"));
}

TEST(SessionProtocol, StoppingTheServerEndsOpenSessions) {
    SessionServer server;
    ASSERT_TRUE(server.ready());
    SessionClient waiting;
    waiting.handshake();
    SessionClient halfDone;
    halfDone.handshake();
    halfDone.send("DONE\n");
    EXPECT_EQ(halfDone.receiveLine(), "ACK\n");
    SessionClient silent;
    silent.send("http://quorvex");
    EXPECT_EQ(server.stop(), 0);
    EXPECT_TRUE(waiting.endedByServer());
    EXPECT_TRUE(halfDone.endedByServer());
    EXPECT_TRUE(silent.endedByServer());
    EXPECT_TRUE(sessionFolders(server.home()).empty());
}

TEST(SessionProtocol, AbruptDisconnectsLeaveNothingBehind) {
    SessionServer server({}, kRoomForBursts);
    ASSERT_TRUE(server.ready());
    pid_t pid = server.process().pid();
    ASSERT_TRUE(waitForOpenSessions("1"));
    std::size_t idle = threadCount(pid);
    const std::string uri = std::string(kCurrentNamespaceUri) + "\n";
    const std::string cuts[] = {
        "http://quorvex",
        uri,
        uri + "INF",
        uri + "USER\n",
        uri + "USER\nsomeone",
        uri + "SESSION_INFO\n",
        uri + "MEASURE\n4000000\n",
        uri + "REVISION\n",
        uri + "DONE\n",
        uri + "INFO\nMEASURE\n100000\nSESSION_HISTORY\n0\nUSAGE_INFO\n",
    };
    for (int i = 0; i < 1000; ++i) {
        const std::string& cut = cuts[i % std::size(cuts)];
        SessionClient client;
        ASSERT_TRUE(client.isOpen()) << i;
        if (cut.starts_with(uri)) {
            // Past the handshake, so the cut falls inside the command phase.
            ASSERT_EQ(client.handshake(), uri) << i;
            client.send(cut.substr(uri.size()));
        } else {
            client.send(cut);
        }
        if (i % 2 == 0) {
            client.reset();
        }
    }
    EXPECT_TRUE(waitForOpenSessions("1", 60s));
    EXPECT_TRUE(waitForNoSessionFolders(server.home()));
    auto end = std::chrono::steady_clock::now() + 20s;
    while (threadCount(pid) > idle && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(20ms);
    }
    // The idle count may include the last query session's thread on its way out.
    EXPECT_LE(threadCount(pid), idle);
    SessionClient after;
    EXPECT_EQ(after.handshake(), uri);
}

} // namespace
} // namespace tnw::test
