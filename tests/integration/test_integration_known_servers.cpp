// Servers learn each other from their advertisements and forget the ones that fell silent:
//
//   h1: plexmilld --console --http, takes no work (never enough memory)
//   h2: plexmilld --console, takes work                  the test reads h1's and h3's
//   h3: plexmilld --console --http, takes work            /json/servers.json and status.json
//
// What a server learns of another is its revision and whether it has a status page; whether
// it takes work is no part of it, and must not be taken for it.
#include "tests/support/http_get.hpp"
#include "tests/support/netns.hpp"
#include "tests/support/server_process.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace tnw::test {
namespace {

// GET `path` from the status port of `host`, as seen from that host.
std::string statusPort(const VirtualLan& lan, int host, const std::string& path) {
    std::string body;
    runInNamespace(lan.hostNamespace(host),
                   [&] { body = httpGet(path, 8080, lan.address(host), 2s); });
    return body;
}

std::string serversDocument(const VirtualLan& lan) {
    return statusPort(lan, 1, "/json/servers.json");
}

bool waitForDocument(const VirtualLan& lan,
                     const std::function<bool(const std::string&)>& condition) {
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

// The line of servers.json for a server, as it stands whatever its place in the list.
std::string entry(const std::string& address, bool http) {
    return "{\"address\": \"" + address +
           "\", \"revision\": 42604, \"http\": " + (http ? "true" : "false") + "}";
}

TEST(KnownServers, LearnedFromAdvertisementsAndForgottenAfterSilence) {
    VirtualLan lan(3);
    ServerHome homes[3];
    homes[0].setMachineNumbers({{"minimum system memory", 0xFFFFFFFFU}});
    const bool http[3] = {true, false, true};
    std::vector<std::unique_ptr<ServerProcess>> servers;
    for (int host = 1; host <= 3; ++host) {
        std::vector<std::string> arguments = {"--rating", "5000"};
        if (http[host - 1]) {
            arguments.push_back("--http");
        }
        servers.push_back(
            std::make_unique<ServerProcess>(homes[host - 1], arguments, lan.execPrefix(host)));
        ASSERT_TRUE(servers.back()->waitUntilReady()) << servers.back()->process().errors();
    }
    // The first server hears the others announce themselves and, at its first housekeeping
    // tick, its own answer to its request.
    EXPECT_TRUE(waitForDocument(lan, [&](const std::string& document) {
        return lists(document, lan.address(1)) && lists(document, lan.address(2)) &&
               lists(document, lan.address(3));
    })) << serversDocument(lan);
    const std::string document = serversDocument(lan);
    for (int host = 1; host <= 3; ++host) {
        SCOPED_TRACE(host);
        EXPECT_NE(document.find(entry(lan.address(host), http[host - 1])), std::string::npos)
            << document;
    }
    // Each server with a page tells whether it takes work, and why not.
    EXPECT_NE(
        statusPort(lan, 1, "/json/status.json").find("\"busy\": true,\"refusals\": [\"memory\"]}"),
        std::string::npos);
    EXPECT_NE(statusPort(lan, 3, "/json/status.json").find("\"busy\": false,\"refusals\": []}"),
              std::string::npos);

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
