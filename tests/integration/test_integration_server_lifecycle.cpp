// plexmilld --console: start, single instance, admission, stop.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include "tests/support/server_process.hpp"
#include "tests/support/session_client.hpp"

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

namespace fs = std::filesystem;

void giveToNobody(const fs::path& path) {
    ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0) << path;
}

TEST(ServerLifecycle, RefusesWorkingFoldersThatOtherUsersCanChange) {
    ASSERT_EQ(::geteuid(), 0U) << "giving a folder to another user needs root";
    struct Case {
        const char* what;
        // Plants the folder in the server's home; returns the folder the error must name.
        std::function<fs::path(const ServerHome&)> plant;
        const char* refusal;
    };
    const Case cases[] = {
        {"made first by another user, with an access log that links elsewhere",
         [](const ServerHome& home) {
             fs::create_directories(home.intermediateFolder());
             fs::create_symlink(home.path() / "victim", home.intermediateFolder() / "access.log");
             giveToNobody(home.intermediateFolder() / "access.log");
             giveToNobody(home.intermediateFolder());
             return home.intermediateFolder();
         },
         "' belongs to another user (user id 65534), not to this server's user (user id 0)."},
        {"a link to a folder of someone else's",
         [](const ServerHome& home) {
             fs::create_directories(home.path() / "theirs");
             fs::create_directory_symlink(home.path() / "theirs", home.intermediateFolder());
             return home.intermediateFolder();
         },
         "' is a symbolic link, not a folder of this server's own."},
        {"writable by the group",
         [](const ServerHome& home) {
             fs::create_directories(home.intermediateFolder());
             fs::permissions(home.intermediateFolder(),
                             fs::perms::owner_all | fs::perms::group_all);
             return home.intermediateFolder();
         },
         "' can be written by other users (mode 0770); only its owner may write there."},
        {"the kernel cache folder made first by another user",
         [](const ServerHome& home) {
             fs::path cache = home.path() / "data" / "Quorvex Plexmill";
             fs::create_directories(cache);
             giveToNobody(cache);
             return cache;
         },
         "' belongs to another user (user id 65534), not to this server's user (user id 0)."},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        ServerHome home;
        writeFile(home.path() / "victim", "untouched\n");
        fs::path folder = test.plant(home);
        ServerProcess server(home, {"--rating", "5000"});
        std::string message = "] Error: The folder '" + folder.string() + test.refusal + "\n";
        EXPECT_TRUE(server.process().waitForError(message)) << server.process().errors();
        ClockDriver driver(home);
        EXPECT_EQ(server.process().wait(20s), 1);
        EXPECT_NE(server.process().errors().find("Error: Failed to run Quorvex Plexmill.\n"),
                  std::string::npos);
        EXPECT_EQ(server.process().output().find("now ready."), std::string::npos);
        EXPECT_EQ(readText(home.path() / "victim"), "untouched\n");
        EXPECT_FALSE(fs::exists(home.path() / "theirs" / "access.log"));
    }
}

TEST(ServerLifecycle, MakesItsFoldersPrivateAndNeverWritesThroughALinkInThem) {
    ServerHome home;
    fs::create_directories(home.intermediateFolder());
    fs::permissions(home.intermediateFolder(), fs::perms::owner_all);
    writeFile(home.path() / "victim", "untouched\n");
    fs::create_symlink(home.path() / "victim", home.intermediateFolder() / "access.log");
    ServerProcess server(home, {"--rating", "5000"});
    ASSERT_TRUE(server.waitUntilReady()) << server.process().errors();
    for (const fs::path& folder :
         {home.intermediateFolder() / "cache", home.path() / "data" / "Quorvex Plexmill"}) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    }
    {
        SessionClient client;
        EXPECT_EQ(client.handshake(), std::string(kCurrentNamespaceUri) + "\n");
    }
    EXPECT_EQ(server.stop(), 0);
    // The connection was admitted with no access log rather than one written elsewhere.
    EXPECT_TRUE(fs::is_symlink(home.intermediateFolder() / "access.log"));
    EXPECT_EQ(readText(home.path() / "victim"), "untouched\n");
}

// The server samples processor times from PLEXMILL_PROC_STAT; a FIFO there holds its monitor
// thread in the middle of a sample for as long as the test likes.
TEST(ServerLifecycle, StopWaitsUntilTheMonitorThreadHasEnded) {
    ServerHome home;
    ServerProcess server(home, {"--rating", "5000"});
    ASSERT_TRUE(server.waitUntilReady()) << server.process().errors();
    fs::path procStat = home.path() / "proc_stat";
    ASSERT_EQ(::mkfifo((home.path() / "proc_stat.fifo").c_str(), 0600), 0);
    fs::rename(home.path() / "proc_stat.fifo", procStat);
    // Wakes the monitor for its next sample, which opens the FIFO and waits in its read.
    home.advanceClock(10'000'000);
    int writer = -1;
    auto end = std::chrono::steady_clock::now() + 20s;
    while (writer < 0 && std::chrono::steady_clock::now() < end) {
        writer = ::open(procStat.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_GE(writer, 0) << "the monitor never read its sample";

    server.process().signal(SIGINT);
    {
        // However long the stop phase's own waits last, it does not finish while the monitor
        // thread is still in the middle of its pass.
        ClockDriver driver(home);
        EXPECT_FALSE(server.process().wait(1500ms).has_value());
    }

    const std::string sample = "cpu  200 0 200 200000 0 0 0 0 0 0\n";
    EXPECT_EQ(::write(writer, sample.data(), sample.size()), static_cast<ssize_t>(sample.size()));
    ::close(writer);
    EXPECT_EQ(server.process().wait(20s), 0) << server.process().errors();
    EXPECT_EQ(server.process().errors(), "");
}

} // namespace
} // namespace tnw::test
