// --list, --status and --iscached against real servers on a virtual LAN:
//
//   h1, h2, h3: plexmilld --console          h4: the client
#include <gtest/gtest.h>

#include <regex>

#include "tests/support/netns.hpp"
#include "tests/support/process_sockets.hpp"
#include "tests/support/server_process.hpp"
#include "tests/support/session_client.hpp"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace tnw::test {
namespace {

RunResult client(const VirtualLan& lan, int host, std::vector<std::string> arguments, const ServerHome& home) {
    std::vector<std::string> argv = lan.execPrefix(host);
    argv.push_back(PLEXMILLD_PATH);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run(argv, home.environment());
}

TEST(NetworkQueries, ListFindsEveryServerOnTheLan) {
    VirtualLan lan(4);
    ServerHome homes[3];
    std::vector<std::unique_ptr<ServerProcess>> servers;
    for (int host = 1; host <= 3; ++host) {
        servers.push_back(std::make_unique<ServerProcess>(
            homes[host - 1], std::vector<std::string>{"--rating", std::to_string(1000 * host), "--description", "host " + std::to_string(host)},
            lan.execPrefix(host)));
    }
    for (auto& server : servers) {
        ASSERT_TRUE(server->waitUntilReady()) << server->process().errors();
    }
    ServerHome clientHome;
    auto listed = client(lan, 4, {"--list", "--quiet"}, clientHome);
    EXPECT_EQ(listed.exitCode, 0);
    for (int host = 1; host <= 3; ++host) {
        SCOPED_TRACE(host);
        std::regex header("\\n?\\d - " + std::regex_replace(lan.address(host), std::regex("\\."), "\\.") + ":\\n");
        EXPECT_TRUE(std::regex_search(listed.output, header)) << listed.output;
        EXPECT_NE(listed.output.find("  Description: host " + std::to_string(host) + "\n"), std::string::npos);
        EXPECT_NE(listed.output.find("  Rating: " + std::to_string(1000 * host) + "\n"), std::string::npos);
    }
    EXPECT_NE(listed.output.find("  Version: 14.1.0 build 42604\n"), std::string::npos);
    EXPECT_NE(listed.output.find("  Operating system: Linux\n"), std::string::npos);
    EXPECT_NE(listed.output.find("  Accepting remote: Yes\n"), std::string::npos);
    EXPECT_EQ(listed.output.find("Measured frequency"), std::string::npos); // --status only
    EXPECT_TRUE(std::regex_search(listed.output, std::regex("^1 - ")));
}

TEST(NetworkQueries, AServerOutsideTheAllowListStaysSilent) {
    VirtualLan lan(3);
    ServerHome allowedHome;
    ServerHome refusingHome;
    ServerProcess allowed(allowedHome, {"--rating", "5000"}, lan.execPrefix(1));
    ServerProcess refusing(refusingHome, {"--rating", "5000", "--allow", lan.address(1)}, lan.execPrefix(2));
    ASSERT_TRUE(allowed.waitUntilReady());
    ASSERT_TRUE(refusing.waitUntilReady());
    ServerHome clientHome;
    auto listed = client(lan, 3, {"--list", "--quiet"}, clientHome);
    EXPECT_NE(listed.output.find("1 - " + lan.address(1) + ":\n"), std::string::npos) << listed.output;
    EXPECT_EQ(listed.output.find(lan.address(2)), std::string::npos) << listed.output;
}

TEST(NetworkQueries, ListWithoutServersSaysSo) {
    VirtualLan lan(1);
    ServerHome clientHome;
    auto listed = client(lan, 1, {"--list", "--quiet"}, clientHome);
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_EQ(listed.output, "No running Quorvex Plexmill found on network.\n");
}

TEST(NetworkQueries, StatusOfOneServer) {
    ServerHome home;
    ServerProcess server(home, {"--rating", "5000", "--description", "Mill PC"});
    ASSERT_TRUE(server.waitUntilReady());
    ServerHome clientHome;
    auto status = run({PLEXMILLD_PATH, "--status", "127.0.0.1", "--quiet"}, clientHome.environment());
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(status.output.starts_with("Info:\n  Version: 14.1.0 build 42604\n")) << status.output;
    EXPECT_TRUE(std::regex_search(status.output, std::regex(R"(\n  Measured frequency: \d+(\.\d+)?GHz\n)"))) << status.output;
    EXPECT_NE(status.output.find("  Description: Mill PC\n"), std::string::npos);
    EXPECT_NE(status.output.find("  Number of open sessions: 1\n"), std::string::npos);

    auto refused = run({PLEXMILLD_PATH, "--status", "127.0.0.1:7390", "--quiet"}, clientHome.environment());
    EXPECT_EQ(refused.exitCode, 0);
    EXPECT_NE(refused.errors.find("Error: Failed to connect to server.\n"), std::string::npos);
    auto badPort = run({PLEXMILLD_PATH, "--status", "127.0.0.1:65536", "--quiet"}, clientHome.environment());
    EXPECT_NE(badPort.errors.find("Error: Failed to connect to server.\n"), std::string::npos);
}

TEST(NetworkQueries, LocalStatusWithAndWithoutServer) {
    ServerHome clientHome;
    auto before = run({PLEXMILLD_PATH, "--status", "--quiet"}, clientHome.environment());
    EXPECT_EQ(before.output, "Quorvex Plexmill not running on this PC.\n");
    ServerHome home;
    ServerProcess server(home, {"--rating", "5000"});
    ASSERT_TRUE(server.waitUntilReady());
    auto during = run({PLEXMILLD_PATH, "--status", "--quiet"}, clientHome.environment());
    EXPECT_EQ(during.output, "Quorvex Plexmill running on this PC.\n");
}

TEST(NetworkQueries, IsCachedExitCodes) {
    ServerHome home;
    ServerProcess server(home, {"--rating", "5000"});
    ASSERT_TRUE(server.waitUntilReady());
    ServerHome clientHome;
    writeFile(clientHome.path() / "part.nc", "G0 X0 Y0\n");
    writeFile(clientHome.path() / "empty.nc", "");
    auto notCached = run({PLEXMILLD_PATH, "--iscached", "127.0.0.1", (clientHome.path() / "part.nc").string()},
                         clientHome.environment());
    EXPECT_EQ(notCached.exitCode, 1);
    EXPECT_EQ(notCached.output, "File '" + (clientHome.path() / "part.nc").string() + "' is not cached.\n");
    auto empty = run({PLEXMILLD_PATH, "--iscached", "127.0.0.1", (clientHome.path() / "empty.nc").string()},
                     clientHome.environment());
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_NE(empty.output.find("is not cached."), std::string::npos);
    auto missing = run({PLEXMILLD_PATH, "--iscached", "127.0.0.1", (clientHome.path() / "missing").string()},
                       clientHome.environment());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.errors, "Failed to connect to '127.0.0.1'.\n");
    auto noServer = run({PLEXMILLD_PATH, "--iscached", "127.0.0.1:7399", "x", "--debug"}, clientHome.environment());
    EXPECT_EQ(noServer.exitCode, 1);
    EXPECT_EQ(noServer.output, "Got no response from '127.0.0.1:7399'.\n");
}

// The port a listening or connected socket of the test has locally.
std::uint16_t localPort(int fd) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size);
    return ntohs(local.sin_port);
}

// The protocol sends a command and its argument as separate small writes. Held back until the
// peer acknowledges the previous one (Nagle's algorithm against a delayed acknowledgement),
// every exchange would wait ~40 ms; so on every side the sockets send small writes at once.
TEST(NetworkQueries, SessionAndStatusSocketsSendSmallWritesAtOnce) {
    ServerHome home;
    ServerProcess server(home, {"--rating", "5000", "--http"});
    ASSERT_TRUE(server.waitUntilReady());
    pid_t pid = server.process().pid();

    SessionClient session;
    ASSERT_EQ(session.handshake(), std::string(kCurrentNamespaceUri) + "\n");
    EXPECT_EQ(noDelayTowards(pid, session.localPort()), std::optional<bool>(true));

    // A status connection is set up by its own thread, before it reads the first request.
    int status = connectTcp(8080);
    ASSERT_GE(status, 0);
    auto deadline = std::chrono::steady_clock::now() + 900ms;
    while (noDelayTowards(pid, localPort(status)) != std::optional<bool>(true) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(noDelayTowards(pid, localPort(status)), std::optional<bool>(true));
    ::close(status);

    // The client's end, looked at while --iscached waits for the echo of its handshake.
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    std::uint16_t port = localPort(listener);
    writeFile(home.path() / "part.nc", "G0 X0 Y0\n");
    ChildProcess client({PLEXMILLD_PATH,
                         "--iscached",
                         "127.0.0.1:" + std::to_string(port),
                         (home.path() / "part.nc").string()},
                        home.environment());
    pollfd waiting{listener, POLLIN, 0};
    ASSERT_EQ(::poll(&waiting, 1, 10'000), 1);
    int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    char byte = 0;
    while (::recv(accepted, &byte, 1, 0) == 1 && byte != '\n') {
    }
    EXPECT_EQ(noDelayTowards(client.pid(), port), std::optional<bool>(true));
    ::close(accepted);
    ::close(listener);
    EXPECT_EQ(client.wait(), 1);
}

} // namespace
} // namespace tnw::test
