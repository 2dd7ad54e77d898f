// plexmilld --console: start, single instance, admission, stop.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "tests/support/server_process.hpp"

namespace tnw::test {
namespace {

// Keeps moving a server's clock forward while a countdown runs, so tests need not wait for it.
class ClockDriver {
public:
    explicit ClockDriver(ServerHome& home) : thread_([this, &home] {
        while (running_) {
            home.advanceClock(1'000'000);
            std::this_thread::sleep_for(30ms);
        }
    }) {}
    ~ClockDriver() {
        running_ = false;
        thread_.join();
    }

private:
    std::atomic<bool> running_{true};
    std::thread thread_;
};

int bindPort(int type, std::uint16_t port) {
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        ::close(fd);
        return -1;
    }
    if (type == SOCK_STREAM) {
        ::listen(fd, 1);
    }
    return fd;
}

std::uint16_t localPort(int fd) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size);
    return ntohs(local.sin_port);
}

// Reads until the server closes the connection; true when it did within the deadline.
bool closedByServer(int fd) {
    timeval wait{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char buffer[256];
    return ::recv(fd, buffer, sizeof buffer, 0) == 0;
}

TEST(ServerLifecycle, StartsAndStopsOnCtrlC) {
    ServerHome home;
    ServerProcess server(home, {"--rating", "5000"});
    ASSERT_TRUE(server.waitUntilReady()) << server.process().output() << server.process().errors();
    std::string output = server.process().output();
    EXPECT_TRUE(output.starts_with("Quorvex Plexmill 14.1.0 build 42604\n"));
    EXPECT_NE(output.find("System rating: 5000\nSystem rating is good.\n"), std::string::npos) << output;
    EXPECT_TRUE(std::regex_search(output, std::regex(R"(\[\d{1,2}:\d\d:\d\d/\*\] Quorvex Plexmill now ready\.\n)")));

    EXPECT_EQ(server.stop(), 0);
    output = server.process().output();
    auto aborting = output.find("Please wait while aborting...\n");
    EXPECT_NE(aborting, std::string::npos) << output;
    EXPECT_EQ(output.find("Please wait while aborting...", aborting + 1), std::string::npos);
    EXPECT_EQ(output.find("Terminating"), std::string::npos);
    EXPECT_EQ(server.process().errors(), "");
}

TEST(ServerLifecycle, StopsOnSigterm) {
    ServerHome home;
    ServerProcess server(home, {"--rating", "5000", "--quiet"});
    ASSERT_TRUE(waitForPort(7387));
    server.process().signal(SIGTERM);
    EXPECT_EQ(server.process().wait(20s), 0);
}

TEST(ServerLifecycle, SecondInstanceIsRefusedWithCountdown) {
    ServerHome home;
    ServerProcess first(home, {"--rating", "5000"});
    ASSERT_TRUE(first.waitUntilReady());
    ServerHome secondHome;
    ServerProcess second(secondHome, {"--rating", "5000"});
    ASSERT_TRUE(second.process().waitForError("already running on this PC.\n"));
    {
        ClockDriver driver(secondHome);
        EXPECT_EQ(second.process().wait(20s), 1);
    }
    std::string errors = second.process().errors();
    EXPECT_TRUE(std::regex_search(errors, std::regex(R"(\[\d{1,2}:\d\d:\d\d/\*\] Error: Quorvex Plexmill already running on this PC\.\n)")))
        << errors;
    EXPECT_NE(errors.find("Error: Failed to run Quorvex Plexmill.\n"), std::string::npos) << errors;
    std::string output = second.process().output();
    // Each status line overwrites the last: a shorter one pads with blanks, then returns.
    EXPECT_NE(output.find("Waiting... (10s)\rWaiting... (9s) \rWaiting... (8s)\r"), std::string::npos) << output;
    EXPECT_NE(output.find("Waiting... (1s)\r               \r"), std::string::npos) << output;
    EXPECT_EQ(output.find("now ready."), std::string::npos);
    EXPECT_EQ(first.stop(), 0);
}

TEST(ServerLifecycle, BindFailuresNameThePort) {
    struct Case {
        int type;
        std::uint16_t port;
        std::vector<std::string> arguments;
        const char* message;
    };
    const Case cases[] = {
        {SOCK_STREAM, 7387, {}, "Error: Failed to bind to port 7387.\n"},
        {SOCK_DGRAM, 7388, {}, "Error: Failed to bind to broadcast port 7388.\n"},
        {SOCK_STREAM, 8080, {"--http"}, "Error: Failed to bind HTTP to port 8080.\n"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.message);
        int blocker = bindPort(test.type, test.port);
        ASSERT_GE(blocker, 0);
        ServerHome home;
        std::vector<std::string> arguments = {"--rating", "5000"};
        arguments.insert(arguments.end(), test.arguments.begin(), test.arguments.end());
        ServerProcess server(home, arguments);
        ASSERT_TRUE(server.process().waitForError(test.message)) << server.process().errors();
        ClockDriver driver(home);
        EXPECT_EQ(server.process().wait(20s), 1);
        ::close(blocker);
    }
}

TEST(ServerLifecycle, AdmittedConnectionsAreLoggedAndRefusedOnesAreNot) {
    ServerHome home;
    ServerProcess server(home, {"--rating", "5000"});
    ASSERT_TRUE(server.waitUntilReady());
    int client = connectTcp(7387);
    ASSERT_GE(client, 0);
    std::uint16_t port = localPort(client);
    std::string expected = "Incoming connection from 127.0.0.1:" + std::to_string(port) + " accepted.\r\n";
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (home.accessLog().find(expected) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(std::regex_match(home.accessLog(),
                                 std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d Incoming connection from 127\.0\.0\.1:)" +
                                            std::to_string(port) + R"( accepted\.\r\n)")))
        << home.accessLog();
    ::close(client);
    EXPECT_EQ(server.stop(), 0);
}

TEST(ServerLifecycle, AllowListRefusesSilentlyExceptInVerbose) {
    ServerHome home;
    ServerProcess server(home, {"--rating", "5000", "--allow", "10.0.0.5", "--verbose"});
    ASSERT_TRUE(server.waitUntilReady());
    int client = connectTcp(7387);
    ASSERT_GE(client, 0);
    std::uint16_t port = localPort(client);
    EXPECT_TRUE(closedByServer(client));
    EXPECT_TRUE(server.process().waitForOutput("Connection from '127.0.0.1:" + std::to_string(port) +
                                               "' ignored due to allow list.\n"))
        << server.process().output();
    EXPECT_EQ(home.accessLog(), "");
    ::close(client);
    EXPECT_EQ(server.stop(), 0);
}

TEST(ServerLifecycle, OutsideAllowedTimesConnectionsAreLoggedThenClosed) {
    ServerHome home;
    // 2200-0600 holds no time of day: its start is after its end.
    ServerProcess server(home, {"--rating", "5000", "--time", "2200-0600"});
    ASSERT_TRUE(server.waitUntilReady());
    EXPECT_TRUE(server.process().waitForOutput("Incoming requests are no longer accepted.\n"));
    int client = connectTcp(7387);
    ASSERT_GE(client, 0);
    EXPECT_TRUE(closedByServer(client));
    EXPECT_NE(home.accessLog().find("accepted.\r\n"), std::string::npos);
    ::close(client);
    EXPECT_EQ(server.stop(), 0);
}

TEST(ServerLifecycle, RatingPrintouts) {
    struct Case {
        const char* rating;
        const char* printed;
    };
    const Case cases[] = {
        {"2500", "System rating: 2500\n[*]"},
        {"999.9999", "System rating: 999.999\nSystem rating is bad.\n"},
        {"8000.5", "System rating: 8000.5\nSystem rating is super.\n"},
        {"6000.001", "System rating: 6000\nSystem rating is great.\n"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.rating);
        ServerHome home;
        ServerProcess server(home, {"--rating", test.rating});
        ASSERT_TRUE(server.waitUntilReady());
        std::string output = server.process().output();
        std::string printed = test.printed;
        if (printed.ends_with("[*]")) {
            // No classification: the next line is the ready message.
            printed = printed.substr(0, printed.size() - 3) + "[";
        }
        EXPECT_NE(output.find(printed), std::string::npos) << output;
        EXPECT_EQ(server.stop(), 0);
    }
}

} // namespace
} // namespace tnw::test
