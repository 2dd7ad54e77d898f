#include "service/http/status_json.hpp"
#include "tests/unit/http/status_fixture.hpp"
#include "util/name_resolution.hpp"
#include "util/text.hpp"

#include <gtest/gtest.h>
#include <string>

namespace plexmill::http {
namespace {

using testing::address;
using testing::contains;
using testing::occurrences;
using testing::unixTime;
using StatusJson = testing::StatusTest;

constexpr const char* kHostile = "Lab \"7\" <script>alert('x')</script> \\ end";

server::SessionRecord closedSession() {
    server::SessionRecord record;
    record.peer = {address(10, 1, 2, 3), 50000};
    record.user = "bob";
    record.application = "CAM \"5\"";
    record.startTime = unixTime(1'700'000'000);
    record.endTime = unixTime(1'700'000'120);
    record.cpuTime = 30'000'000;
    record.memory = 1'048'576;
    record.bytesReceived = 2048;
    record.bytesSent = 4096;
    record.status = "Success";
    return record;
}

TEST_F(StatusJson, IdleServerHasEmptyListsAndNoLastFailure) {
    std::string json = statusJson(manager);
    EXPECT_TRUE(json.starts_with("{\"system\": {\"name\": \"")) << json;
    EXPECT_TRUE(json.ends_with("\"currentSessions\": [\n],\n\"closedSessions\": [\n]\n}")) << json;
    EXPECT_TRUE(contains(json, ",\"failures\": 0},\n\"currentSessions\"")) << json;
    EXPECT_FALSE(contains(json, "lastFailure"));
    EXPECT_TRUE(contains(json, "},\n\"service\": {\"runningSince\": "));
    EXPECT_TRUE(contains(json, ",\"version\": \"14.1.0 build 42604\",\"busy\": "));
    // The capacity under "limits", the size in use under "stats".
    EXPECT_EQ(occurrences(json, "\"cacheSize\": "), 2U);
    EXPECT_TRUE(contains(
        json, "\"cache\": true,\"cacheSize\": 34359738368,\"cacheTimeout\": 86400000000},\n"));
    EXPECT_TRUE(contains(json, "\"rating\": 5000},\n"));
    EXPECT_TRUE(contains(json, "\"os\": \"Linux\","));
    EXPECT_TRUE(contains(json, "{\"name\": \"" + tnw::util::localHostName() + "\","));
}

TEST_F(StatusJson, LimitsAndStatisticsComeFromTheManagerAndSettings) {
    server::settings().sessionTimeout = 3'600'000'000;
    server::settings().maximumDataSize = 1024;
    server::settings().nocache = true;
    server::settings().cloud = true;
    manager.config.minimumSystemMemory = 1'000'000;
    manager.config.maximumSessions = 3;
    manager.cpuUsage = 0.125;
    manager.numberOfTCPRequests = 7;
    manager.numberOfUDPRequests = 8;
    manager.totalSessions = 12;
    manager.statistics.dataReceived = 100;
    manager.statistics.dataSent = 200;
    manager.statistics.elapsedTime = 90'500'000;
    manager.statistics.processingTime = 1'234'567'891'000;
    manager.statistics.failures = 2;
    manager.statistics.lastFailure = unixTime(1'700'000'300);
    addSession(false);
    std::string json = statusJson(manager);
    EXPECT_TRUE(contains(json, "\"os\": \"Cloud\","));
    EXPECT_TRUE(contains(json,
                         "\"limits\": {\"sessionTimeout\": 3600000000,\"minimumMemory\": 1000000,"
                         "\"maximumDataSize\": 1024,\"maximumSessions\": 3,\"cache\": false,"
                         "\"cacheSize\": 34359738368,\"cacheTimeout\": 86400000000},\n"))
        << json;
    EXPECT_TRUE(
        contains(json,
                 "\"stats\": {\"openSessions\": 1,\"totalSessions\": 12,\"cpuUsage\": 12.5,"
                 "\"numberOfTCPRequests\": 7,\"numberOfUDPRequests\": 8,\"dataReceived\": 100,"
                 "\"dataSent\": 200,\"cacheSize\": 0,\"cacheHits\": 0,\"cacheReuse\": 0,"
                 "\"elapsedTime\": 90.5,\"processingTime\": 1.23457e+06,\"failures\": 2,"
                 "\"lastFailure\": 1700000300},\n"))
        << json;
}

TEST_F(StatusJson, OnlyJobSessionsAreListedWithCommasBetweenThem) {
    server::settings().nameLookup = {{"alice", "Alice Example"}};
    auto first = addSession(true);
    first->id = -5;
    first->peer = {address(10, 0, 0, 7), 40000};
    first->user = "ALICE";
    first->application = "Mill \"A\"";
    first->startTime = unixTime(1'700'000'000);
    first->waiting = true;
    first->cpuTime = 2'500'000;
    first->memory = 4096;
    first->cpuUsage = 0.25;
    first->bytesReceived = 10;
    first->bytesSent = 20;
    auto second = addSession(true);
    second->id = 6;
    second->peer = {address(10, 0, 0, 8), 40001};
    second->startTime = unixTime(1'700'000'001);
    addSession(false);
    std::string json = statusJson(manager);
    std::size_t begin = json.find("\"currentSessions\": [\n");
    std::size_t end = json.find("],\n\"closedSessions\"");
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    std::string lines = json.substr(begin, end - begin);
    EXPECT_TRUE(lines.starts_with(
        "\"currentSessions\": [\n{\"id\": -5,\"host\": \"10.0.0.7\",\"user\": \"Alice "
        "Example\",\"application\": \"Mill \\\"A\\\"\",\"started\": 1700000000,"
        "\"elapsedTime\": "))
        << lines;
    EXPECT_TRUE(contains(
        lines,
        ",\"processing\": true,\"processingTime\": 2.5,\"memory\": 4096,\"cpu\": 0.25,"
        "\"received\": 10,\"sent\": 20},\n{\"id\": 6,\"host\": \"10.0.0.8\",\"user\": \"\","))
        << lines;
    EXPECT_TRUE(
        lines.ends_with(",\"processing\": false,\"processingTime\": 0,\"memory\": 0,\"cpu\": 0,"
                        "\"received\": 0,\"sent\": 0}\n"))
        << lines;
    EXPECT_EQ(occurrences(lines, "\n"), 3U);
}

TEST_F(StatusJson, ClosedSessionsNewestFirstWithTheirStatus) {
    manager.history.push_back(closedSession());
    server::SessionRecord failed = closedSession();
    failed.status = "Failed";
    failed.user.clear();
    manager.history.push_back(failed);
    std::string json = statusJson(manager);
    EXPECT_TRUE(json.ends_with(
        "\"closedSessions\": [\n"
        "{\"host\": \"10.1.2.3\",\"user\": \"bob\",\"application\": \"CAM \\\"5\\\"\",\"started\": "
        "1700000000,"
        "\"completed\": 1700000120,\"elapsedTime\": 120,\"processingTime\": 30,\"memory\": 1048576,"
        "\"received\": 2048,\"sent\": 4096,\"status\": \"Success\"},\n"
        "{\"host\": \"10.1.2.3\",\"user\": \"\",\"application\": \"CAM \\\"5\\\"\",\"started\": "
        "1700000000,"
        "\"completed\": 1700000120,\"elapsedTime\": 120,\"processingTime\": 30,\"memory\": 1048576,"
        "\"received\": 2048,\"sent\": 4096,\"status\": \"Failed\"}\n"
        "]\n}"))
        << json;
}

TEST_F(StatusJson, MemoryInUseAddsTheJobSessions) {
    auto job = addSession(true);
    job->memory = 1ULL << 40; // far above any test process's working set
    addSession(false)->memory = 1ULL << 41;
    std::string json = statusJson(manager);
    auto result = testing::python("import json, sys\n"
                                  "used = json.load(open(sys.argv[1]))['system']['memoryInUse']\n"
                                  "print(2**40 < used < 2**40 + 2**34, end='')\n",
                                  json);
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(result.output, "True") << json;
}

// Texts from the network and the system, with quotes and markup in them, read back by a real
// JSON parser exactly as they were.
TEST_F(StatusJson, HostileTextsSurviveARealParser) {
    server::settings().description = kHostile;
    server::settings().nameLookup = {
        {tnw::util::toLowerAscii(tnw::util::localHostName()), kHostile}};
    auto session = addSession(true);
    session->user = kHostile;
    session->application = "\"},{\"injected\": 1";
    session->startTime = unixTime(1'700'000'000);
    server::SessionRecord record = closedSession();
    record.status = "Failed\n<b>";
    record.application = std::string("bad \xff byte");
    manager.history.push_back(record);
    manager.history.push_back(closedSession());
    manager.statistics.failures = 1;
    manager.statistics.lastFailure = unixTime(1'700'000'300);

    std::string json = statusJson(manager);
    auto result = testing::python(
        "import json, sys\n"
        "hostile = sys.argv[2]\n"
        "d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
        "assert list(d) == ['system', 'service', 'limits', 'stats', 'currentSessions', "
        "'closedSessions'], list(d)\n"
        "assert d['system']['name'] == hostile, d['system']['name']\n"
        "assert d['system']['description'] == hostile\n"
        "assert list(d['system']) == ['name', 'description', 'processors', 'os', "
        "'availableMemory',\n"
        "    'totalMemory', 'memoryInUse', 'rating']\n"
        "assert d['system']['rating'] == 5000\n"
        "assert d['stats']['failures'] == 1 and d['stats']['lastFailure'] == 1700000300\n"
        "s = d['currentSessions']\n"
        "assert len(s) == 1 and s[0]['user'] == hostile and s[0]['application'] == "
        "'\"},{\"injected\": 1'\n"
        "assert s[0]['started'] == 1700000000 and s[0]['elapsedTime'] > 0\n"
        "c = d['closedSessions']\n"
        "assert len(c) == 2 and c[0]['status'] == 'Failed\\n<b>' and c[1]['status'] == 'Success'\n"
        "assert c[0]['application'] == 'bad \\ufffd byte', c[0]['application']\n"
        "assert c[0]['elapsedTime'] == 120 and c[0]['processingTime'] == 30\n"
        "print('ok', end='')\n",
        json,
        {kHostile});
    EXPECT_EQ(result.exitCode, 0) << result.errors << json;
    EXPECT_EQ(result.output, "ok");
}

TEST_F(StatusJson, ServerListHasOneLinePerKnownServer) {
    EXPECT_EQ(serversJson(manager), "{\"servers\": [\n]\n}");
    manager.knownServers.learn({unixTime(1), "10.0.0.1", 42604, true});
    EXPECT_EQ(
        serversJson(manager),
        "{\"servers\": [\n{\"address\": \"10.0.0.1\", \"revision\": 42604, \"http\": true}\n]\n}");
    manager.knownServers.learn({unixTime(2), "10.0.0.2\"}", 36300, false});
    std::string json = serversJson(manager);
    EXPECT_EQ(json,
              "{\"servers\": [\n"
              "{\"address\": \"10.0.0.1\", \"revision\": 42604, \"http\": true},\n"
              "{\"address\": \"10.0.0.2\\\"}\", \"revision\": 36300, \"http\": false}\n"
              "]\n}");
    auto result = testing::python("import json, sys\n"
                                  "s = json.load(open(sys.argv[1]))['servers']\n"
                                  "print([x['address'] for x in s], end='')\n",
                                  json);
    EXPECT_EQ(result.output, "['10.0.0.1', '10.0.0.2\"}']") << result.errors;
}

} // namespace
} // namespace plexmill::http
