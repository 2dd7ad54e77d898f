// --list, --status and --iscached against real servers on a virtual LAN:
//
//   h1, h2, h3: plexmilld --console          h4: the client
//
// The servers of the list test differ: h1 has a status page but takes no work, h2 takes work
// but no uploaded kernels, h3 takes both and has no page.
#include "tests/support/netns.hpp"
#include "tests/support/process_sockets.hpp"
#include "tests/support/server_process.hpp"
#include "tests/support/session_client.hpp"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include <arpa/inet.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sys/socket.h>
#include <unistd.h>

namespace tnw::test {
namespace {

RunResult client(const VirtualLan& lan,
                 int host,
                 std::vector<std::string> arguments,
                 const ServerHome& home) {
    std::vector<std::string> argv = lan.execPrefix(host);
    argv.push_back(PLEXMILLD_PATH);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run(argv, home.environment());
}

// The advertisements that answer one request-advertise broadcast from `host`, by sender
// address, once `expected` senders have answered or two seconds have passed.
std::map<std::string, std::string>
advertisements(const VirtualLan& lan, int host, std::size_t expected) {
    std::map<std::string, std::string> answers;
    runInNamespace(lan.hostNamespace(host), [&] {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
        sockaddr_in broadcast{};
        broadcast.sin_family = AF_INET;
        broadcast.sin_port = htons(7388);
        broadcast.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        const std::string request =
            "http://tornwell.example/namespace/tornwellpmd/request-advertise";
        ::sendto(fd,
                 request.data(),
                 request.size(),
                 0,
                 reinterpret_cast<sockaddr*>(&broadcast),
                 sizeof broadcast);
        const auto end = std::chrono::steady_clock::now() + 2s;
        while (answers.size() < expected && std::chrono::steady_clock::now() < end) {
            pollfd readable{fd, POLLIN, 0};
            if (::poll(&readable, 1, 100) != 1) {
                continue;
            }
            char buffer[1024];
            sockaddr_in sender{};
            socklen_t size = sizeof sender;
            const ssize_t got = ::recvfrom(
                fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &size);
            char address[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &sender.sin_addr, address, sizeof address);
            if (got > 0) {
                answers[address] = std::string(buffer, static_cast<std::size_t>(got));
            }
        }
        ::close(fd);
    });
    return answers;
}

// The lines --list printed under the header of the server at `address`.
std::string listedBlock(const std::string& listed, const std::string& address) {
    std::smatch header;
    if (!std::regex_search(listed,
                           header,
                           std::regex("(^|\\n)\\d+ - " +
                                      std::regex_replace(address, std::regex("\\."), "\\.") +
                                      ":\\n"))) {
        return {};
    }
    const std::string rest = header.suffix().str();
    std::smatch next;
    return std::regex_search(rest, next, std::regex("\\n\\d+ - "))
               ? rest.substr(0, next.position() + 1)
               : rest;
}

TEST(NetworkQueries, ListFindsEveryServerOnTheLan) {
    VirtualLan lan(4);
    ServerHome homes[3];
    // Each server differs from the others in another way: the first serves its status page but
    // takes no work (it never has enough memory), the second takes work but keeps no uploaded
    // kernels (it has a fixed kernel folder), the third does both without a status page.
    homes[0].setMachineNumbers({{"minimum system memory", 0xFFFFFFFFU}});
    std::filesystem::create_directories(homes[1].path() / "kernel");
    const std::vector<std::string> extra[3] = {
        {"--http"}, {"--kernel", (homes[1].path() / "kernel").string()}, {}};
    std::vector<std::unique_ptr<ServerProcess>> servers;
    for (int host = 1; host <= 3; ++host) {
        std::vector<std::string> arguments = {"--rating",
                                              std::to_string(1000 * host),
                                              "--description",
                                              "host " + std::to_string(host)};
        arguments.insert(arguments.end(), extra[host - 1].begin(), extra[host - 1].end());
        servers.push_back(
            std::make_unique<ServerProcess>(homes[host - 1], arguments, lan.execPrefix(host)));
    }
    for (auto& server : servers) {
        ASSERT_TRUE(server->waitUntilReady()) << server->process().errors();
    }
    // What a client hears: whether each server takes work now, and whether it has a page.
    const std::string advertise =
        "http://tornwell.example/namespace/tornwellpmd/advertise\nREVISION:42604\n";
    const std::map<std::string, std::string> expected = {
        {lan.address(1), advertise + "RATING:1000\nACCEPTING:NO\nHTTP:YES\n"},
        {lan.address(2), advertise + "RATING:2000\nACCEPTING:YES\nHTTP:NO\n"},
        {lan.address(3), advertise + "RATING:3000\nACCEPTING:YES\nHTTP:NO\n"},
    };
    EXPECT_EQ(advertisements(lan, 4, 3), expected);

    ServerHome clientHome;
    auto listed = client(lan, 4, {"--list", "--quiet"}, clientHome);
    EXPECT_EQ(listed.exitCode, 0);
    const char* const remote[] = {"Yes", "No", "Yes"};
    const char* const http[] = {"Yes", "No", "No"};
    for (int host = 1; host <= 3; ++host) {
        SCOPED_TRACE(host);
        const std::string block = listedBlock(listed.output, lan.address(host));
        EXPECT_NE(block.find("  Description: host " + std::to_string(host) + "\n"),
                  std::string::npos)
            << listed.output;
        EXPECT_NE(block.find("  Rating: " + std::to_string(1000 * host) + "\n"), std::string::npos)
            << block;
        EXPECT_NE(block.find(std::string("  Accepting remote: ") + remote[host - 1] + "\n"),
                  std::string::npos)
            << block;
        EXPECT_NE(block.find(std::string("  Accepting HTTP: ") + http[host - 1] + "\n"),
                  std::string::npos)
            << block;
        EXPECT_NE(block.find("  Version: 14.1.0 build 42604\n"), std::string::npos) << block;
        EXPECT_NE(block.find("  Operating system: Linux\n"), std::string::npos) << block;
    }
    EXPECT_EQ(listed.output.find("Measured frequency"), std::string::npos); // --status only
    EXPECT_TRUE(std::regex_search(listed.output, std::regex("^1 - ")));
}

TEST(NetworkQueries, AServerOutsideTheAllowListStaysSilent) {
    VirtualLan lan(3);
    ServerHome allowedHome;
    ServerHome refusingHome;
    ServerProcess allowed(allowedHome, {"--rating", "5000"}, lan.execPrefix(1));
    ServerProcess refusing(
        refusingHome, {"--rating", "5000", "--allow", lan.address(1)}, lan.execPrefix(2));
    ASSERT_TRUE(allowed.waitUntilReady());
    ASSERT_TRUE(refusing.waitUntilReady());
    ServerHome clientHome;
    auto listed = client(lan, 3, {"--list", "--quiet"}, clientHome);
    EXPECT_NE(listed.output.find("1 - " + lan.address(1) + ":\n"), std::string::npos)
        << listed.output;
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
    auto status =
        run({PLEXMILLD_PATH, "--status", "127.0.0.1", "--quiet"}, clientHome.environment());
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(status.output.starts_with("Info:\n  Version: 14.1.0 build 42604\n"))
        << status.output;
    EXPECT_TRUE(
        std::regex_search(status.output, std::regex(R"(\n  Measured frequency: \d+(\.\d+)?GHz\n)")))
        << status.output;
    EXPECT_NE(status.output.find("  Description: Mill PC\n"), std::string::npos);
    EXPECT_NE(status.output.find("  Number of open sessions: 1\n"), std::string::npos);

    auto refused =
        run({PLEXMILLD_PATH, "--status", "127.0.0.1:7390", "--quiet"}, clientHome.environment());
    EXPECT_EQ(refused.exitCode, 0);
    EXPECT_NE(refused.errors.find("Error: Failed to connect to server.\n"), std::string::npos);
    auto badPort =
        run({PLEXMILLD_PATH, "--status", "127.0.0.1:65536", "--quiet"}, clientHome.environment());
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
    auto notCached =
        run({PLEXMILLD_PATH, "--iscached", "127.0.0.1", (clientHome.path() / "part.nc").string()},
            clientHome.environment());
    EXPECT_EQ(notCached.exitCode, 1);
    EXPECT_EQ(notCached.output,
              "File '" + (clientHome.path() / "part.nc").string() + "' is not cached.\n");
    auto empty =
        run({PLEXMILLD_PATH, "--iscached", "127.0.0.1", (clientHome.path() / "empty.nc").string()},
            clientHome.environment());
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_NE(empty.output.find("is not cached."), std::string::npos);
    auto missing =
        run({PLEXMILLD_PATH, "--iscached", "127.0.0.1", (clientHome.path() / "missing").string()},
            clientHome.environment());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.errors, "Failed to connect to '127.0.0.1'.\n");
    auto noServer = run({PLEXMILLD_PATH, "--iscached", "127.0.0.1:7399", "x", "--debug"},
                        clientHome.environment());
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
