// Servers learn each other from their advertisements and forget the ones that fell silent:
//
//   h1, h2, h3: plexmilld --console --http          the test reads h1's /json/servers.json
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/netns.hpp"
#include "tests/support/server_process.hpp"

namespace tnw::test {
namespace {

// GET /json/servers.json from the first host, as seen from that host.
std::string serversDocument(const VirtualLan& lan) {
    std::string body;
    runInNamespace(lan.hostNamespace(1), [&] {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(8080);
        ::inet_pton(AF_INET, lan.address(1).c_str(), &target.sin_addr);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) {
            std::string request = "GET /json/servers.json HTTP/1.1\r\n\r\n";
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            timeval wait{2, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            char buffer[4096];
            ssize_t got = 0;
            while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
                body.append(buffer, static_cast<std::size_t>(got));
                if (body.find("]\n}") != std::string::npos) {
                    break;
                }
            }
        }
        ::close(fd);
    });
    return body;
}

bool waitForDocument(const VirtualLan& lan, const std::function<bool(const std::string&)>& condition) {
    auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end) {
        if (condition(serversDocument(lan))) {
            return true;
        }
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

bool lists(const std::string& document, const std::string& address) {
    return document.find("\"address\": \"" + address + "\"") != std::string::npos;
}

TEST(KnownServers, LearnedFromAdvertisementsAndForgottenAfterSilence) {
    VirtualLan lan(3);
    ServerHome homes[3];
    std::vector<std::unique_ptr<ServerProcess>> servers;
    for (int host = 1; host <= 3; ++host) {
        servers.push_back(std::make_unique<ServerProcess>(homes[host - 1],
                                                          std::vector<std::string>{"--rating", "5000", "--http"},
                                                          lan.execPrefix(host)));
        ASSERT_TRUE(servers.back()->waitUntilReady()) << servers.back()->process().errors();
    }
    EXPECT_TRUE(waitForDocument(lan, [&](const std::string& document) {
        return lists(document, lan.address(2)) && lists(document, lan.address(3));
    })) << serversDocument(lan);

    // The second server falls silent; after ten housekeeping ticks (300 s on the first
    // server's clock) its network-wide request is answered by the third only, and the
    // second is forgotten.
    EXPECT_EQ(servers[1]->stop(), 0);
    bool forgotten = false;
    for (int tick = 0; tick < 100 && !forgotten; ++tick) {
        // One tick at a time: each move wakes the loop, which ticks once per 30 s passed.
        homes[0].advanceClock(31'000'000);
        std::this_thread::sleep_for(150ms);
        std::string document = serversDocument(lan);
        forgotten = !lists(document, lan.address(2)) && lists(document, lan.address(3));
    }
    EXPECT_TRUE(forgotten) << serversDocument(lan);
}

} // namespace
} // namespace tnw::test
