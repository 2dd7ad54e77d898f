// Why a real server refuses work: each condition is brought about (settings, the test clock,
// the processor-time file, a running job, the service's pause) and read back from status.json,
// the status page, /metrics and `plexmilld --status`.
#include "tests/support/child_process.hpp"
#include "tests/support/http_get.hpp"
#include "tests/support/server_process.hpp"
#include "tests/support/service_machine.hpp"
#include "tests/support/session_client.hpp"
#include "tests/support/temp_folder.hpp"
#include "tests/support/wait.hpp"

#include <ctime>
#include <filesystem>
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

// Replaces the processor-time file in one step: the monitor gives up on a file it reads half
// written, as it would on a /proc it cannot parse.
void writeProcStat(ServerHome& home, const std::string& line) {
    writeFile(home.path() / "proc_stat.new", line);
    std::filesystem::rename(home.path() / "proc_stat.new", home.path() / "proc_stat");
}

// Busy ticks the processor-time file last showed; the idle line keeps them.
std::uint64_t busyTicks = 100;

void busyProcessor(ServerHome& home, std::vector<std::unique_ptr<SessionClient>>&) {
    // The monitor takes its first counters whenever its thread gets going, which may be after
    // a line written here; each round adds busy time, so a round after that baseline shows it.
    busyTicks = 100;
    waitUntil(
        [&] {
            busyTicks += 900000;
            writeProcStat(home,
                          "cpu  " + std::to_string(busyTicks) + " 0 100 100100 0 0 0 0 0 0\n");
            home.advanceClock(6'000'000); // the idle monitor samples every 5 s
            return waitUntil([] { return contains(httpGet("/json/status.json"), "\"cpuUsage\"]"); },
                             1500ms);
        },
        10s);
}

void idleProcessor(ServerHome& home, std::vector<std::unique_ptr<SessionClient>>&) {
    writeProcStat(home, "cpu  " + std::to_string(busyTicks) + " 0 100 900000100 0 0 0 0 0 0\n");
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

// Reads the case's reasons from status.json, the status page, /metrics and --status of the
// server on this namespace's status port.
void expectEverywhere(const RefusalCase& c, const std::map<std::string, std::string>& environment) {
    const std::string expected = std::string("\"refusals\": [") + c.refusals + "]}";
    std::string json;
    EXPECT_TRUE(
        waitUntil([&] { return contains(json = httpGet("/json/status.json"), expected); }, 10s))
        << json;
    EXPECT_TRUE(contains(
        json, std::string("\"busy\": ") + (contains(c.accepting, " 1") ? "false" : "true") + ","))
        << json;

    std::string page = httpGet("/");
    if (*c.pageRow == '\0') {
        EXPECT_FALSE(contains(page, "Refusals:")) << page;
    } else {
        EXPECT_TRUE(contains(page,
                             std::string("<tr class=\"field\"><td>Refusals:</td><td>") + c.pageRow +
                                 "</td></tr>"))
            << page;
    }

    std::string metrics = httpGet("/metrics");
    EXPECT_TRUE(contains(metrics, c.accepting)) << metrics;
    if (*c.metric != '\0') {
        EXPECT_TRUE(contains(metrics, c.metric)) << metrics;
    }
    EXPECT_TRUE(contains(metrics,
                         "plexmill_build_info{version=\"14.1.0 build 42604\","
                         "revision=\"42604\",platform=\"LINUX\"} 1\n"))
        << metrics;

    auto status = run({PLEXMILLD_PATH, "--status", "127.0.0.1", "--quiet"}, environment);
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(status.output.ends_with(c.statusLines)) << status.output << status.errors;
}

void expectNoneInTheDocuments() {
    std::string json;
    EXPECT_TRUE(waitUntil(
        [&] { return contains(json = httpGet("/json/status.json"), "\"refusals\": []}"); }, 10s))
        << json;
    EXPECT_TRUE(contains(httpGet("/metrics"), "plexmill_accepting 1\n"));
}

TEST(Refusals, EachReasonShowsInEveryPlaceWhileItHolds) {
    const RefusalCase cases[] = {
        {"none",
         {},
         {},
         nullptr,
         "",
         "",
         "",
         "plexmill_accepting 1\n",
         "Refusals: none\n",
         nullptr},
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
        ServerHome clientHome;
        expectEverywhere(c, clientHome.environment());
        if (c.relieve) {
            c.relieve(home, clients);
            expectNoneInTheDocuments();
        }
        server.stop();
    }
}

// The service's pause is one more reason, and the one that --resume lifts.
TEST(Refusals, APausedServiceSaysSoUntilResumed) {
    ServiceMachine machine;
    machine.install();
    ASSERT_EQ(machine.plexmilld({"--enablehttp"}).exitCode, 0);
    auto start = machine.plexmilld({"--start"});
    ASSERT_EQ(start.exitCode, 0) << start.errors;
    ASSERT_TRUE(waitForPort(kStatusPort));
    auto pause = machine.plexmilld({"--pause"});
    ASSERT_EQ(pause.exitCode, 0) << pause.errors;
    const RefusalCase paused{"paused",
                             {},
                             {},
                             nullptr,
                             "\"paused\"",
                             "Paused",
                             "plexmill_refusing{reason=\"paused\"} 1\n",
                             "plexmill_accepting 0\n",
                             "Refusals:\n  Paused\n",
                             nullptr};
    expectEverywhere(paused, machine.environment());
    auto resume = machine.plexmilld({"--resume"});
    ASSERT_EQ(resume.exitCode, 0) << resume.errors;
    expectNoneInTheDocuments();
    EXPECT_EQ(machine.plexmilld({"--stop"}).exitCode, 0);
}

} // namespace
} // namespace tnw::test
