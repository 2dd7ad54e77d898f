// Why a real server refuses work: each condition is brought about (settings, the test clock,
// the processor-time file, a running job) and read back from status.json, the status page,
// /metrics and `plexmilld --status`.
#include "tests/support/child_process.hpp"
#include "tests/support/http_get.hpp"
#include "tests/support/server_process.hpp"
#include "tests/support/session_client.hpp"
#include "tests/support/temp_folder.hpp"
#include "tests/support/wait.hpp"

#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace tnw::test {
namespace {

constexpr std::uint16_t kStatusPort = 8080;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// An allowed-times interval two hours from now: refused now, accepted once the clock moves on.
std::string intervalInTwoHours() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    int hour = (local.tm_hour + 2) % 24;
    char text[16];
    std::snprintf(text, sizeof text, "%02d00-%02d59", hour, hour);
    return text;
}

struct RefusalCase {
    const char* name;
    std::vector<std::string> arguments;
    std::map<std::string, std::uint32_t> registry;
    // Brings the condition about once the server runs; may keep what it needs alive.
    std::function<void(ServerHome&, std::vector<std::unique_ptr<SessionClient>>&)> provoke;
    const char* refusals;  // the status.json array's contents
    const char* pageRow;   // value of the status page's "Refusals:" row; "" for none
    const char* metric;    // the plexmill_refusing sample that must read 1; "" for none
    const char* accepting; // plexmill_accepting
    const char* statusLines;
    // Undoes the condition, after which the server takes work again.
    std::function<void(ServerHome&, std::vector<std::unique_ptr<SessionClient>>&)> relieve;
};

void busyProcessor(ServerHome& home, std::vector<std::unique_ptr<SessionClient>>&) {
    // From the idle line ServerHome writes: 200000 busy ticks against 100 idle ones.
    writeFile(home.path() / "proc_stat", "cpu  200100 0 100 100100 0 0 0 0 0 0\n");
    home.advanceClock(6'000'000); // the idle monitor samples every 5 s
}

void idleProcessor(ServerHome& home, std::vector<std::unique_ptr<SessionClient>>&) {
    writeFile(home.path() / "proc_stat", "cpu  200100 0 100 900100 0 0 0 0 0 0\n");
    home.advanceClock(6'000'000);
}

void runJob(ServerHome&, std::vector<std::unique_ptr<SessionClient>>& clients) {
    auto client = std::make_unique<SessionClient>();
    ASSERT_EQ(client->handshake(), std::string(kCurrentNamespaceUri) + "\n");
    client->send("USER\ncarol\nRUN\n\n12\nsilent 3600\n");
    ASSERT_EQ(client->receive(8), "ACK\nACK\n");
    client->send("DONE\n");
    ASSERT_EQ(client->receiveLine(), "ACK\n");
    clients.push_back(std::move(client));
}

void abortJob(ServerHome&, std::vector<std::unique_ptr<SessionClient>>& clients) {
    clients.back()->send("ABORT\n");
    EXPECT_EQ(clients.back()->receiveUntilEnd(), "ACK\n");
}

void twoHoursLater(ServerHome& home, std::vector<std::unique_ptr<SessionClient>>&) {
    home.advanceClock(2ULL * 3600 * 1'000'000);
}

TEST(Refusals, EachReasonShowsInEveryPlaceWhileItHolds) {
    const RefusalCase cases[] = {
        {"none", {}, {}, nullptr, "", "", "", "plexmill_accepting 1\n", "Refusals: none\n", nullptr},
        {"allowed times",
         {"--time", intervalInTwoHours()},
         {},
         nullptr,
         "\"allowedTimes\"",
         "Outside allowed times",
         "plexmill_refusing{reason=\"allowedTimes\"} 1\n",
         "plexmill_accepting 0\n",
         "Refusals:\n  Outside allowed times\n",
         twoHoursLater},
        {"memory",
         {},
         {{"minimum system memory", 0x7fffffff}},
         nullptr,
         "\"memory\"",
         "Available memory below minimum",
         "plexmill_refusing{reason=\"memory\"} 1\n",
         "plexmill_accepting 0\n",
         "Refusals:\n  Available memory below minimum\n",
         nullptr},
        {"cpu usage",
         {},
         {},
         busyProcessor,
         "\"cpuUsage\"",
         "CPU usage above threshold",
         "plexmill_refusing{reason=\"cpuUsage\"} 1\n",
         "plexmill_accepting 0\n",
         "Refusals:\n  CPU usage above threshold\n",
         idleProcessor},
        {"session limit",
         {},
         {{"maximum number of sessions", 1}},
         runJob,
         "\"sessionLimit\"",
         "Session limit reached",
         "plexmill_refusing{reason=\"sessionLimit\"} 1\n",
         "plexmill_accepting 0\n",
         "Refusals:\n  Session limit reached\n",
         abortJob},
        // The allow list concerns the asking client: the server itself still takes work.
        {"allow list",
         {"--allow", "10.9.9.9"},
         {},
         nullptr,
         "\"allowList\"",
         "Address not on allow list",
         "plexmill_refusing{reason=\"allowList\"} 1\n",
         "plexmill_accepting 1\n",
         "Refusals:\n  Address not on allow list\n",
         nullptr},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        ServerHome home;
        installTestKernel(home.path() / "kernel");
        if (!c.registry.empty()) {
            home.setMachineNumbers(c.registry);
        }
        std::vector<std::string> arguments = {
            "--http", "--rating", "5000", "--kernel", (home.path() / "kernel").string()};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        ServerProcess server(home, arguments);
        ASSERT_TRUE(server.waitUntilReady() && waitForPort(kStatusPort))
            << server.process().errors();
        std::vector<std::unique_ptr<SessionClient>> clients;
        if (c.provoke) {
            c.provoke(home, clients);
        }
        const std::string expected = std::string("\"refusals\": [") + c.refusals + "]}";
        std::string json;
        EXPECT_TRUE(waitUntil([&] { return contains(json = httpGet("/json/status.json"), expected); },
                              10s))
            << json;
        EXPECT_TRUE(contains(json, std::string("\"busy\": ") +
                                       (contains(c.accepting, " 1") ? "false" : "true") + ","))
            << json;

        std::string page = httpGet("/");
        if (*c.pageRow == '\0') {
            EXPECT_FALSE(contains(page, "Refusals:")) << page;
        } else {
            EXPECT_TRUE(contains(page, std::string("<tr class=\"field\"><td>Refusals:</td><td>") +
                                           c.pageRow + "</td></tr>"))
                << page;
        }

        std::string metrics = httpGet("/metrics");
        EXPECT_TRUE(contains(metrics, c.accepting)) << metrics;
        if (*c.metric != '\0') {
            EXPECT_TRUE(contains(metrics, c.metric)) << metrics;
        }
        EXPECT_TRUE(contains(metrics, "plexmill_build_info{version=\"14.1.0 build 42604\","
                                      "revision=\"42604\",platform=\"LINUX\"} 1\n"))
            << metrics;

        ServerHome clientHome;
        auto status =
            run({PLEXMILLD_PATH, "--status", "127.0.0.1", "--quiet"}, clientHome.environment());
        EXPECT_EQ(status.exitCode, 0);
        EXPECT_TRUE(status.output.ends_with(c.statusLines)) << status.output << status.errors;

        if (c.relieve) {
            c.relieve(home, clients);
            EXPECT_TRUE(waitUntil(
                [&] { return contains(json = httpGet("/json/status.json"), "\"refusals\": []}"); },
                10s))
                << json;
            EXPECT_TRUE(contains(httpGet("/metrics"), "plexmill_accepting 1\n"));
        }
        server.stop();
    }
}

} // namespace
} // namespace tnw::test
