#include "service/http/status_page_tables.hpp"
#include "tests/unit/http/status_fixture.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace plexmill::http {
namespace {

using testing::address;
using testing::contains;
using testing::occurrences;
using testing::unixTime;
using StatusTables = testing::StatusTest;

const std::string kStart =
    "<script>document.write(new Date(1700000000000).toLocaleString())</script>";
const std::string kEnd =
    "<script>document.write(new Date(1700000120000).toLocaleString())</script>";

server::SessionRecord record(std::uint32_t peer) {
    server::SessionRecord record;
    record.peer = {peer, 1};
    record.user = "bob";
    record.application = "Mill";
    record.startTime = unixTime(1'700'000'000);
    record.endTime = unixTime(1'700'000'120);
    record.cpuTime = 30'000'000;
    record.memory = 1536;
    record.bytesReceived = 2048;
    record.bytesSent = 10;
    record.status = "Success";
    return record;
}

std::vector<std::string> rowClasses(const std::string& table) {
    std::vector<std::string> classes;
    const std::string open = "<tr class=\"";
    for (std::size_t at = table.find(open); at != std::string::npos;
         at = table.find(open, at + 1)) {
        std::size_t begin = at + open.size();
        classes.push_back(table.substr(begin, table.find('"', begin) - begin));
    }
    return classes;
}

TEST_F(StatusTables, ClosedSessionRowsShowDurationsAndTheProcessingShare) {
    useHostNames({{address(10, 9, 0, 1), "cam-01"}});
    std::vector<server::SessionRecord> history = {record(address(10, 9, 0, 1))};
    EXPECT_EQ(
        closedSessionsTable(history),
        "<table border=\"1\"><tr><th>Host</th><th>User</th><th>Application</th><th>Started</th>"
        "<th>Completed</th><th>Elapsed</th><th>Processing</th><th>Memory</th><th>Received</th>"
        "<th>Sent</th><th>Status</th></tr>"
        "<tr class=\"even\"><td>cam-01 [10.9.0.1]</td><td>bob</td><td>Mill</td><td>" +
            kStart + "</td><td>" + kEnd +
            "</td><td>2 minutes </td><td>0:00:30 (25%)</td><td>1.5 kb</td><td>2 kb</td><td>10 "
            "b</td>"
            "<td>Success</td></tr></table>");
}

TEST_F(StatusTables, ClosedSessionEdgeCases) {
    useHostNames({});
    server::settings().nameLookup = {{"bob", "Bob <Builder>"}};
    server::SessionRecord unnamed = record(address(10, 9, 0, 2));
    unnamed.user.clear();
    unnamed.application.clear();
    unnamed.cpuTime = 1'000'000;
    unnamed.endTime = unnamed.startTime; // no elapsed time: no share
    server::SessionRecord third = record(address(10, 9, 0, 2));
    third.cpuTime = 1'000'000;
    third.endTime = unixTime(1'700'000'003); // 33.33...%, truncated to one decimal
    std::string table = closedSessionsTable({unnamed, third});
    EXPECT_TRUE(contains(table, "<td>Unspecified</td><td>Unspecified</td>")) << table;
    EXPECT_TRUE(contains(table, "</td><td></td><td>0:00:01</td><td>1.5 kb</td>")) << table;
    EXPECT_TRUE(contains(table, "<td>Bob &lt;Builder&gt;</td>")) << table;
    EXPECT_TRUE(contains(table, "<td>3 seconds</td><td>0:00:01 (33.3%)</td>")) << table;
}

TEST_F(StatusTables, LongListsAreCutToFortyRowsAlternatingEvenAndOdd) {
    useHostNames({});
    std::vector<server::SessionRecord> history(60, record(address(10, 9, 1, 1)));
    std::vector<std::string> classes = rowClasses(closedSessionsTable(history));
    ASSERT_EQ(classes.size(), 40U);
    for (std::size_t i = 0; i < classes.size(); ++i) {
        EXPECT_EQ(classes[i], i % 2 == 0 ? "even" : "odd") << i;
    }
    std::vector<server::RequestRecord> requests(60,
                                                server::RequestRecord{{address(10, 9, 1, 1), 1}});
    EXPECT_EQ(rowClasses(incomingConnectionsTable(requests)).size(), 40U);
    std::vector<server::CacheEntry> entries(41, server::CacheEntry{"ab", unixTime(1'700'000'000)});
    EXPECT_EQ(rowClasses(cacheTable(entries, unixTime(1'700'000'000))).size(), 40U);
}

TEST_F(StatusTables, CurrentSessionRowsAndTheirUnspecifiedCells) {
    useHostNames({{address(10, 9, 2, 1), "mill \"one\" <i>"}});
    server::settings().nameLookup = {{"alice", "Alice Example"}};
    LiveSession busy{42,
                     {address(10, 9, 2, 1), 1},
                     "alice",
                     "CAM<1>",
                     unixTime(1'700'000'000),
                     false,
                     30'000'000,
                     2 * 1024 * 1024,
                     0.12345,
                     1024,
                     0};
    LiveSession idle{-7, {address(10, 9, 2, 2), 1}};
    idle.waiting = true;
    std::string table = currentSessionsTable({busy, idle});
    EXPECT_EQ(
        table,
        "<table "
        "border=\"1\"><tr><th>ID</th><th>Host</th><th>User</th><th>Application</th><th>Since</th>"
        "<th>Status</th><th>Processing</th><th>Memory</th><th>CPU</th><th>Received</th><th>Sent</"
        "th></tr>"
        "<tr class=\"even\"><td>42</td><td>mill &quot;one&quot; &lt;i&gt; "
        "[10.9.2.1]</td><td>alice</td>"
        "<td>CAM&lt;1&gt;</td><td>" +
            kStart +
            "</td><td>Processing</td><td>0:00:30</td><td>2 Mb</td><td>12.34%</td><td>1 "
            "kb</td><td>0 b</td></tr>"
            "<tr class=\"odd\"><td>-7</td><td>10.9.2.2</td><td>Unspecified</td><td>Unspecified</td>"
            "<td><script>document.write(new Date(-11644473600000).toLocaleString())</script></td>"
            "<td>Waiting</td><td>Unspecified</td><td>Unspecified</td><td>Unspecified</td><td>0 "
            "b</td>"
            "<td>0 b</td></tr></table>");
}

TEST_F(StatusTables, CpuShareIsTruncatedToTwoDecimals) {
    useHostNames({});
    struct Case {
        double usage;
        const char* cell;
    };
    const Case cases[] = {{0.12345, "<td>12.34%</td>"},
                          {0.5, "<td>50%</td>"},
                          {0.00001, "<td>0%</td>"},
                          {1.0, "<td>100%</td>"},
                          {0.999999, "<td>99.99%</td>"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cell);
        LiveSession session{1, {address(10, 9, 3, 1), 1}};
        session.cpuUsage = c.usage;
        EXPECT_TRUE(contains(currentSessionsTable({session}), c.cell));
    }
}

TEST_F(StatusTables, IncomingConnectionsShowHowLongAndHowOftenAPeerWasSeen) {
    useHostNames({{address(10, 9, 4, 1), "<img src=x onerror=alert(1)>"}});
    server::RequestRecord repeated{{address(10, 9, 4, 1), 1}};
    repeated.firstSeen = unixTime(1'700'000'000);
    repeated.lastSeen = tnw::util::Time(repeated.firstSeen.value() + 12'700'000);
    repeated.kind = server::RequestRecord::Session;
    repeated.count = 3;
    server::RequestRecord once{{address(10, 9, 4, 2), 1}};
    once.firstSeen = once.lastSeen = unixTime(1'700'000'120);
    once.kind = server::RequestRecord::Http;
    server::RequestRecord quick = repeated; // seen again within the same second
    quick.lastSeen = tnw::util::Time(quick.firstSeen.value() + 999'999);
    EXPECT_EQ(incomingConnectionsTable({repeated, once, quick}),
              "<table border=\"1\"><tr><th>Time</th><th>Host</th><th>Type</th></tr>"
              "<tr class=\"even\"><td>" +
                  kStart +
                  " [+12s]</td><td>&lt;img src=x onerror=alert(1)&gt; [10.9.4.1]</td><td>SESSION "
                  "[3]</td></tr>"
                  "<tr class=\"odd\"><td>" +
                  kEnd + "</td><td>10.9.4.2</td><td>HTTP </td></tr><tr class=\"even\"><td>" +
                  kStart +
                  "</td><td>&lt;img src=x onerror=alert(1)&gt; [10.9.4.1]</td><td>SESSION "
                  "[3]</td></tr></table>");
}

TEST(RequestType, WordsForEveryKindBitThenTheCount) {
    struct Case {
        std::uint32_t kind;
        std::uint32_t count;
        const char* type;
    };
    const Case cases[] = {
        {1, 1, "SESSION "},
        {2, 1, "SEARCH "},
        {4, 1, "HTTP "},
        {1, 3, "SESSION [3]"},
        {7, 2, "SESSION SEARCH HTTP [2]"},
        {0, 1, ""},
        {0, 5, "[5]"},
        {8, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        server::RequestRecord request;
        request.kind = c.kind;
        request.count = c.count;
        EXPECT_EQ(requestType(request), c.type);
    }
}

TEST_F(StatusTables, CacheEntriesExpireADayAfterTheirLastUse) {
    useHostNames({{address(10, 9, 5, 1), "source"}});
    const tnw::util::Time now = unixTime(1'700'100'000);
    const std::string checksum(64, 'a');
    server::CacheEntry fresh{checksum,
                             unixTime(1'700'100'000 - 3600),
                             34'359'738'368ULL,
                             "",
                             {address(10, 9, 5, 1), 1},
                             4};
    server::CacheEntry old = fresh;
    old.lastUse = unixTime(1'700'100'000 - 25 * 3600);
    server::CacheEntry boundary = fresh;
    boundary.lastUse = unixTime(1'700'100'000 - 24 * 3600);
    std::string table = cacheTable({fresh, old, boundary}, now);
    EXPECT_TRUE(table.starts_with(
        "<table border=\"1\"><tr><th>Time</th><th>Expires</th><th>Host</th>"
        "<th>Checksum</th><th>Size</th><th>Hits</th></tr><tr class=\"even\"><td>"
        "<script>document.write(new Date(1700096400000).toLocaleString())</script>"
        "</td><td>23 hours </td><td>source [10.9.5.1]</td><td>" +
        checksum + "</td><td>32 Gb</td><td>4</td></tr>"))
        << table;
    EXPECT_EQ(occurrences(table, "<td>Expired</td>"), 2U);
}

} // namespace
} // namespace plexmill::http
