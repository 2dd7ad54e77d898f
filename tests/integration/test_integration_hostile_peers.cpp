// Peers that do not play by the rules, against a real plexmilld in the test's own network
// namespace: floods of discovery requests, connections that never greet, clients that never
// read, advertisements from thousands of made-up addresses, and RUNs racing for the last
// session.
#include "tests/support/netns.hpp"
#include "tests/support/process_sockets.hpp"
#include "tests/support/session_client.hpp"
#include "tests/support/session_server.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <regex>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tnw::test {
namespace {

const std::string kRequestAdvertise =
    "http://tornwell.example/namespace/tornwellpmd/request-advertise";
const std::string kAdvertise = "http://tornwell.example/namespace/tornwellpmd/advertise\n"
                               "REVISION:42604\nHTTP:NO\n";

sockaddr_in inetAddress(const std::string& address, std::uint16_t port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &target.sin_addr);
    return target;
}

// One GET on a fresh connection to the status port; the whole answer, or what came before the
// deadline.
std::string httpGet(const std::string& path, std::chrono::milliseconds deadline = 10s) {
    int fd = connectTcp(8080);
    if (fd < 0) {
        return {};
    }
    timeval wait{static_cast<time_t>(deadline.count() / 1000),
                 static_cast<suseconds_t>(deadline.count() % 1000 * 1000)};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string request = "GET " + path + " HTTP/1.1\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string received;
    char buffer[65536];
    ssize_t count = 0;
    while ((count = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
        received.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fd);
    return received;
}

// OPEN_SESSIONS as an admitted client sees it, itself included.
std::string openSessionsSeenBy(SessionClient& client) {
    client.send("USAGE_INFO\n");
    std::string block = client.receiveBlock();
    std::smatch match;
    return std::regex_search(block, match, std::regex("OPEN_SESSIONS:(\\d+)\n")) ? match[1].str()
                                                                                 : block;
}

// The server's soft limit of open files, from /proc.
std::string openFilesLimit(pid_t pid) {
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    std::string line;
    while (std::getline(limits, line)) {
        std::smatch match;
        if (std::regex_search(line, match, std::regex("^Max open files +(\\d+)"))) {
            return match[1].str();
        }
    }
    return {};
}

std::size_t openDescriptors(pid_t pid) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        ++count;
    }
    return count;
}

// plexmilld --console behind prlimit, so that it starts with the descriptor limits given.
class LimitedServer {
public:
    LimitedServer(const std::string& limits, const std::map<std::string, std::uint32_t>& registry) {
        requirePrivateNetworkNamespace();
        home_.setMachineNumbers(registry);
        server_ = std::make_unique<ServerProcess>(
            home_,
            std::vector<std::string>{"--rating", "5000"},
            std::vector<std::string>{"prlimit", "--nofile=" + limits});
        ready_ = server_->waitUntilReady();
    }
    ~LimitedServer() {
        auto code = server_->stop();
        EXPECT_EQ(code, 0) << server_->process().errors();
    }
    bool ready() const { return ready_; }
    pid_t pid() { return server_->process().pid(); }
    ServerHome& home() { return home_; }

private:
    ServerHome home_;
    std::unique_ptr<ServerProcess> server_;
    bool ready_ = false;
};

// Request-advertise datagrams as fast as a small sender goes, with the answers it hears.
class DiscoveryFlood {
public:
    DiscoveryFlood() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        thread_ = std::thread([this] { run(); });
    }
    ~DiscoveryFlood() {
        stop();
        ::close(fd_);
    }
    void stop() {
        flooding_ = false;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    int sent() const { return sent_; }
    int answers() const { return answers_; }

private:
    void run() {
        sockaddr_in server = inetAddress("127.0.0.1", 7388);
        char answer[4096];
        while (flooding_) {
            for (int i = 0; i < 50; ++i) {
                if (::sendto(fd_,
                             kRequestAdvertise.data(),
                             kRequestAdvertise.size(),
                             0,
                             reinterpret_cast<sockaddr*>(&server),
                             sizeof server) > 0) {
                    ++sent_;
                }
            }
            while (::recv(fd_, answer, sizeof answer, 0) > 0) {
                ++answers_;
            }
            // About 10,000 requests a second, without taking a whole processor from the server.
            std::this_thread::sleep_for(5ms);
        }
    }

    int fd_ = -1;
    std::atomic<bool> flooding_{true};
    std::atomic<int> sent_{0};
    std::atomic<int> answers_{0};
    std::thread thread_;
};

TEST(HostilePeers, DiscoveryFloodLeavesSessionsStatusAndCtrlCServed) {
    SessionServer server({"--http"});
    ASSERT_TRUE(server.ready());
    auto start = std::chrono::steady_clock::now();
    DiscoveryFlood flood;
    auto deadline = start + 10s;
    while (flood.sent() < 2000 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_GE(flood.sent(), 2000);

    SessionClient client;
    EXPECT_EQ(client.handshake(), std::string(kCurrentNamespaceUri) + "\n");
    client.send("IS_ALIVE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    EXPECT_TRUE(httpGet("/json/servers.json").starts_with("HTTP/1.1 200 OK\r\n"));

    // Requests are still answered, each after its pause, one after the other: never more
    // answers than pauses fit into the time.
    flood.stop();
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(flood.answers(), 1);
    EXPECT_LE(flood.answers(), static_cast<int>(elapsed / 0.1) + 2) << elapsed;

    DiscoveryFlood again;
    while (again.sent() < 2000 && std::chrono::steady_clock::now() < deadline + 10s) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(server.stop(), 0); // Ctrl+C in the middle of a flood
}

// Fifty servers that start together each ask the others at once; every one must hear every
// answer in that round, not just the first few.
TEST(HostilePeers, EveryRequesterOfABurstIsAnsweredOnce) {
    SessionServer server;
    ASSERT_TRUE(server.ready());
    const int requesters = 49;
    sockaddr_in target = inetAddress("127.0.0.1", 7388);
    std::vector<int> sockets;
    for (int index = 0; index < requesters; ++index) {
        int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        // Asking twice while waiting still earns one answer.
        for (int ask = 0; ask < 2; ++ask) {
            ::sendto(fd,
                     kRequestAdvertise.data(),
                     kRequestAdvertise.size(),
                     0,
                     reinterpret_cast<sockaddr*>(&target),
                     sizeof target);
        }
        sockets.push_back(fd);
    }
    std::vector<int> answers(requesters, 0);
    auto deadline = std::chrono::steady_clock::now() + requesters * 100ms + 5s;
    // A second answer would come a pause after the last first one.
    auto settled = deadline;
    while (std::chrono::steady_clock::now() < std::min(deadline, settled)) {
        char answer[4096];
        for (int index = 0; index < requesters; ++index) {
            while (::recv(sockets[index], answer, sizeof answer, 0) > 0) {
                ++answers[index];
            }
        }
        if (settled == deadline && std::ranges::count(answers, 0) == 0) {
            settled = std::chrono::steady_clock::now() + 500ms;
        }
        std::this_thread::sleep_for(50ms);
    }
    for (int fd : sockets) {
        ::close(fd);
    }
    EXPECT_EQ(answers, std::vector<int>(requesters, 1));
}

TEST(HostilePeers, IdleConnectionsCannotLockOutAClientThatTalks) {
    // Started with a soft limit the server raises to the hard one.
    LimitedServer server("128:256", {});
    ASSERT_TRUE(server.ready());
    EXPECT_EQ(openFilesLimit(server.pid()), "256");

    // More connections that never send a byte than the old limit allowed descriptors.
    std::vector<std::unique_ptr<SessionClient>> idle;
    for (int i = 0; i < 300; ++i) {
        idle.push_back(std::make_unique<SessionClient>());
        ASSERT_TRUE(idle.back()->isOpen()) << i;
    }
    SessionClient client;
    ASSERT_EQ(client.handshake(), std::string(kCurrentNamespaceUri) + "\n");
    // At most 64 connections wait for their first command; the oldest made room for later ones.
    auto deadline = std::chrono::steady_clock::now() + 10s;
    std::string open = openSessionsSeenBy(client);
    while (std::stoul(open) > 65 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
        open = openSessionsSeenBy(client);
    }
    EXPECT_LE(std::stoul(open), 65U);
    EXPECT_TRUE(idle.front()->endedByServer(5s));

    // Those still waiting go when their time for the handshake has passed on the server's clock.
    deadline = std::chrono::steady_clock::now() + 20s;
    while (openSessionsSeenBy(client) != "1" && std::chrono::steady_clock::now() < deadline) {
        server.home().advanceClock(11'000'000);
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(openSessionsSeenBy(client), "1");
    EXPECT_TRUE(idle.back()->endedByServer(5s));

    // A connection that greeted but sent no command goes the same way.
    SessionClient silent;
    ASSERT_EQ(silent.handshake(), std::string(kCurrentNamespaceUri) + "\n");
    deadline = std::chrono::steady_clock::now() + 20s;
    while (!silent.endedByServer(100ms) && std::chrono::steady_clock::now() < deadline) {
        server.home().advanceClock(11'000'000);
    }
    deadline = std::chrono::steady_clock::now() + 10s;
    while (openSessionsSeenBy(client) != "1" && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(openSessionsSeenBy(client), "1");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
}

TEST(HostilePeers, RunningOutOfDescriptorsNeitherSpinsNorLocksOutForGood) {
#if defined(__SANITIZE_ADDRESS__)
    // The address and undefined-behaviour checks open descriptors of their own to look at
    // memory; in a process that has none left they report faults that are not there.
    GTEST_SKIP() << "needs a server built without the address sanitizer";
#endif
    // A hard limit the server cannot raise, and room in the listen queue for what it cannot take.
    LimitedServer server("48:48", {{"maximum number of sessions", 40}});
    ASSERT_TRUE(server.ready());
    std::size_t spare = 48 - openDescriptors(server.pid());
    std::vector<std::unique_ptr<SessionClient>> idle;
    for (std::size_t i = 0; i < spare + 10; ++i) {
        idle.push_back(std::make_unique<SessionClient>());
        ASSERT_TRUE(idle.back()->isOpen()) << i;
    }
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (openDescriptors(server.pid()) < 47 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    // Connections wait that the server has no descriptor for: it must not spin on them.
    std::uint64_t before = processorTicks(server.pid());
    std::this_thread::sleep_for(1s);
    EXPECT_LT(processorTicks(server.pid()) - before, 20U); // clock ticks of 10 ms

    // Once the idle clients go, the server takes connections again (as soon as it has closed
    // theirs: one that comes earlier may still find no descriptor for its session).
    idle.clear();
    deadline = std::chrono::steady_clock::now() + 20s;
    bool served = false;
    while (!served && std::chrono::steady_clock::now() < deadline) {
        SessionClient client;
        try {
            served = client.handshake() == std::string(kCurrentNamespaceUri) + "\n";
        } catch (const std::runtime_error&) {
            // Closed under the handshake: not yet.
        }
        if (!served) {
            std::this_thread::sleep_for(50ms);
        }
    }
    EXPECT_TRUE(served);
}

TEST(HostilePeers, AClientThatNeverReadsItsMeasurementIsDropped) {
    SessionServer server;
    ASSERT_TRUE(server.ready());
    SessionClient greedy;
    ASSERT_EQ(greedy.handshake(), std::string(kCurrentNamespaceUri) + "\n");
    greedy.send("MEASURE\n4294967295\n");
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (openSessions() != "1" && std::chrono::steady_clock::now() < deadline) {
        server.home().advanceClock(31'000'000);
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_TRUE(waitForOpenSessions("1"));
    EXPECT_TRUE(greedy.endedByServer(20s));
}

TEST(HostilePeers, AdvertisementsFromThousandsOfAddressesKeepTheNewest1024) {
    // Every address of 10.99.0.0/16 is this host's, so a socket may send from any of them.
    ASSERT_EQ(runCommand({"ip", "route", "add", "local", "10.99.0.0/16", "dev", "lo"}), 0);
    SessionServer server({"--http"});
    ASSERT_TRUE(server.ready());
    auto sender = [](int index) {
        return "10.99." + std::to_string(index / 250) + "." + std::to_string(index % 250 + 1);
    };
    auto listed = [] {
        std::string document = httpGet("/json/servers.json");
        std::vector<std::string> addresses;
        std::regex entry("\\{\"address\": \"([0-9.]+)\"");
        for (auto it = std::sregex_iterator(document.begin(), document.end(), entry);
             it != std::sregex_iterator();
             ++it) {
            addresses.push_back((*it)[1].str());
        }
        return addresses;
    };
    sockaddr_in target = inetAddress("10.99.255.254", 7388);
    const int total = 3000;
    for (int index = 0; index < total; ++index) {
        int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in source = inetAddress(sender(index), 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source), 0) << index;
        ::sendto(fd,
                 kAdvertise.data(),
                 kAdvertise.size(),
                 0,
                 reinterpret_cast<sockaddr*>(&target),
                 sizeof target);
        ::close(fd);
        // In batches the server's receive buffer holds, each taken in before the next.
        if ((index + 1) % 100 == 0) {
            auto deadline = std::chrono::steady_clock::now() + 10s;
            while (listed().size() < std::min<std::size_t>(index + 1, 1024) &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(10ms);
            }
        }
    }
    std::vector<std::string> addresses = listed();
    ASSERT_EQ(addresses.size(), 1024U);
    // The longest unheard went first; the rest stay in the order they were first heard.
    EXPECT_EQ(addresses.front(), sender(total - 1024));
    EXPECT_EQ(addresses.back(), sender(total - 1));
}

TEST(HostilePeers, RunsRacingForTheLastSessionAdmitExactlyOne) {
    SessionServer server({}, {{"maximum number of sessions", 1}});
    ASSERT_TRUE(server.ready());
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::unique_ptr<SessionClient>> clients;
        for (int i = 0; i < 4; ++i) {
            clients.push_back(std::make_unique<SessionClient>());
            ASSERT_EQ(clients.back()->handshake(), std::string(kCurrentNamespaceUri) + "\n");
            clients.back()->send("RUN");
        }
        // The last byte of each command goes out together, so the checks meet.
        for (auto& client : clients) {
            client->send("\n\n1\nx");
        }
        int admitted = 0;
        for (auto& client : clients) {
            std::string reply = client->receiveLine();
            if (reply == "ACK\n") {
                ++admitted;
            } else {
                EXPECT_EQ(reply, ""); // "Server is busy": no reply, the server stops sending
            }
        }
        EXPECT_EQ(admitted, 1);
        clients.clear();
        ASSERT_TRUE(waitForOpenSessions("1"));
    }
}

} // namespace
} // namespace tnw::test
