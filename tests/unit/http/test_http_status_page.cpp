#include "service/http/status_page.hpp"
#include "service/http/style_sheet.hpp"
#include "service/server/admission.hpp"
#include "tests/unit/http/status_fixture.hpp"
#include "util/name_resolution.hpp"
#include "util/system_info.hpp"
#include "util/text.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace plexmill::http {
namespace {

using testing::address;
using testing::contains;
using testing::occurrences;
using testing::unixTime;
using StatusPage = testing::StatusTest;

std::string row(const std::string& label, const std::string& value) {
    return "<tr class=\"field\"><td>" + label + "</td><td>" + value + "</td></tr>";
}

TEST_F(StatusPage, DocumentFrameAndSectionOrder) {
    std::string page = buildStatusPage(manager);
    EXPECT_TRUE(page.starts_with(
        "<html><head><style type=\"text/css\">" + std::string(styleSheet()) +
        "</style><link rel=\"icon\" type=\"image/png\" href=\"plexmon.ico\"/>"
        "<meta http-equiv=\"Content-type\" content=\"text/html;charset=UTF-8\"/></head>"
        "<title>Quorvex Plexmill</title><body><h1>Quorvex Plexmill</h1><h2>"))
        << page;
    EXPECT_TRUE(contains(page, "<p>Updated: <script>document.write(new Date("));
    EXPECT_TRUE(contains(page,
                         "</p><a href=\"taskmanager\">Open Network Task Manager</a><br/><br/>"
                         "<table border=\"1\"><tr><th>System</th><th>Service</th><th>Limits</th>"
                         "<th>Stats</th><th>IO</th></tr><tr class=\"all\"><td><table>"
                         "<tr class=\"field\"><td>Processors:</td>"));
    EXPECT_TRUE(contains(
        page,
        "</table></td></tr></table><br/><h3>Current Sessions</h3><p>No current sessions</p>"
        "<br/><h3>Closed Sessions</h3><p>No closed sessions</p></br>"
        "<h3>Incoming Connections</h3><p>No current incoming connections</p></br>"
        "<h3>Cache</h3><p>No cache</p></br></br>"
        "<a href=\"https://www.quorvex.example\">www.quorvex.example</a></body></html>"))
        << page;
    EXPECT_EQ(occurrences(page, "\n"),
              occurrences(styleSheet(), "\n")); // none outside the style sheet
    EXPECT_EQ(occurrences(page, "<td><table>"), 5U);
}

TEST_F(StatusPage, OverviewRowsInTheirOrder) {
    server::setSystemRating(4999.5);
    manager.config.port = 7400;
    manager.config.broadcastPort = 7401;
    manager.config.maximumSessions = 4;
    manager.config.minimumSystemMemory = 512ULL * 1024 * 1024;
    server::settings().sessionTimeout = 172'800'000'000ULL;
    server::settings().maximumDataSize = 4ULL * 1024 * 1024 * 1024;
    manager.totalSessions = 9;
    manager.cpuUsage = 0.1234;
    manager.statistics.dataReceived = 1536;
    manager.statistics.dataSent = 3ULL * 1024 * 1024;
    manager.statistics.elapsedTime = 3'661'000'000;
    manager.statistics.processingTime = 90'000'000'000;
    std::string page = buildStatusPage(manager);
    EXPECT_TRUE(
        contains(page,
                 "<td><table>" +
                     row("Processors:", std::to_string(tnw::util::SystemInfo::processorCount())) +
                     row("Rating:", "5000") + row("Operating system:", "Linux") +
                     "<tr class=\"field\"><td>Available memory:</td>"))
        << page;
    EXPECT_TRUE(contains(
        page,
        row("Version:", "14.1.0 build 42604") + row("Status:", "Accepting sessions") +
            row("Port (TCP):", "7400") + row("Broadcast port (UDP):", "7401") +
            "</table></td><td><table>" + row("Session timeout:", "2 days ") +
            row("Minimum memory:", "512 Mb") + row("Maximum data size:", "4 Gb") +
            row("Maximum sessions:", "4") + row("Cache:", "Yes") + row("Cache size:", "32 Gb") +
            row("Cache timeout:", "1 day ") + "</table></td><td><table>" +
            row("Open sessions:", "0") + row("Total sessions:", "9") + row("CPU usage:", "12.3%") +
            row("Total elapsed time:", "1:01:01") + row("Total processing time:", "25:00:00") +
            row("Total failures:", "None") + "</table></td><td><table>" +
            row("Total data received:", "1.5 kb") + row("Total data sent:", "3 Mb") +
            row("Total cache size:", "0 b") + row("Total cache hits:", "0") +
            row("Total cache reuse:", "0 b") + "</table></td></tr></table>"))
        << page;
    EXPECT_TRUE(contains(
        page, "<tr class=\"field\"><td>Running since:</td><td><script>document.write(new Date("));
    EXPECT_FALSE(contains(page, "Last failure:"));
}

TEST_F(StatusPage, CpuUsageIsRoundedToOneDecimal) {
    struct Case {
        double usage;
        const char* value;
    };
    const Case cases[] = {
        {0.0, "0%"}, {0.12345, "12.3%"}, {0.12351, "12.4%"}, {0.9996, "100%"}, {0.5, "50%"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        manager.cpuUsage = c.usage;
        EXPECT_TRUE(contains(buildStatusPage(manager), row("CPU usage:", c.value)));
    }
}

TEST_F(StatusPage, FailuresShowTheCountAndTheLastOne) {
    manager.statistics.failures = 3;
    manager.statistics.lastFailure = unixTime(1'700'000'300);
    std::string page = buildStatusPage(manager);
    EXPECT_TRUE(contains(
        page,
        row("Total failures:", "3") +
            row("Last failure:",
                "<script>document.write(new Date(1700000300000).toLocaleString())</script>") +
            "</table>"))
        << page;
}

TEST_F(StatusPage, RatingRowIsLeftOutUntilThereIsARating) {
    server::setSystemRating(0);
    EXPECT_FALSE(contains(buildStatusPage(manager), "Rating:"));
}

TEST_F(StatusPage, WithoutCachingThereIsNoCacheSection) {
    server::settings().nocache = true;
    std::string page = buildStatusPage(manager);
    EXPECT_FALSE(contains(page, "<h3>Cache</h3>"));
    EXPECT_TRUE(contains(page, row("Cache:", "No")));
    EXPECT_TRUE(contains(page, "<p>No current incoming connections</p></br></br><a href="));
}

TEST_F(StatusPage, SessionsThatAreNotJobSessionsAreCountedButNotListed) {
    addSession(false);
    addSession(false);
    std::string page = buildStatusPage(manager);
    EXPECT_TRUE(contains(page, row("Open sessions:", "2")));
    EXPECT_TRUE(contains(page, "<p>No current sessions</p>"));
}

TEST_F(StatusPage, ListsAppearWhenThereIsSomethingToShow) {
    useHostNames({});
    auto job = addSession(true);
    job->id = 77;
    job->peer = {address(10, 9, 6, 1), 1};
    addSession(false);
    server::SessionRecord record;
    record.peer = {address(10, 9, 6, 2), 1};
    record.status = "Failed";
    manager.history.assign(60, record);
    for (std::uint8_t host = 1; host <= 20; ++host) {
        server::recordRequest(manager, {address(10, 9, 7, host), 1}, server::RequestRecord::Http);
    }
    std::string page = buildStatusPage(manager);
    EXPECT_TRUE(contains(page, "<h3>Current Sessions</h3><table border=\"1\"><tr><th>ID</th>"))
        << page;
    EXPECT_TRUE(contains(page, "<tr class=\"even\"><td>77</td><td>10.9.6.1</td>"));
    EXPECT_EQ(occurrences(page, "<td>Failed</td>"), 40U);
    EXPECT_EQ(occurrences(page, "<td>HTTP </td>"), 20U);
    // Newest first: the last recorded address heads the table.
    EXPECT_TRUE(
        contains(page,
                 "<h3>Incoming Connections</h3><table border=\"1\"><tr><th>Time</th><th>Host</th>"
                 "<th>Type</th></tr><tr class=\"even\"><td><script>"));
    EXPECT_LT(page.find("10.9.7.20"), page.find("10.9.7.1<"));
    EXPECT_TRUE(contains(page, "<h3>Cache</h3><p>No cache</p>"));
}

// A name server that never answers in time: the page waits once for all its peers' names,
// shows addresses meanwhile, and shows the names once they have come.
TEST_F(StatusPage, NamesOfManyPeersCostOneBoundedWaitAndComeLater) {
    struct NameServer {
        std::mutex mutex;
        std::condition_variable opened;
        bool open = false; // guarded by mutex
        std::atomic<int> calls{0};
    };
    auto names = std::make_shared<NameServer>();
    tnw::util::NameResolver::setLookups({[names](std::uint32_t asked) {
                                             ++names->calls;
                                             std::unique_lock lock(names->mutex);
                                             names->opened.wait(lock, [&] { return names->open; });
                                             return "cam-" + std::to_string(asked & 0xFF);
                                         },
                                         {}});
    struct Timeout {
        Timeout() { tnw::util::NameResolver::setTimeout(300'000); }
        ~Timeout() {
            tnw::util::NameResolver::setTimeout(tnw::util::NameResolver::kDefaultTimeout);
        }
    } timeout;
    for (std::uint8_t host = 1; host <= 20; ++host) {
        server::recordRequest(manager, {address(10, 31, 0, host), 1}, server::RequestRecord::Http);
    }
    for (std::uint8_t host = 1; host <= 40; ++host) {
        server::SessionRecord record;
        record.peer = {address(10, 31, 1, host), 1};
        manager.history.push_back(record);
    }

    auto start = std::chrono::steady_clock::now();
    std::string page = buildStatusPage(manager);
    // One wait of 0.3 s for the 60 peers, not 0.3 s for each of them.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_TRUE(contains(page, "<td>10.31.1.40</td>")) << page;
    EXPECT_TRUE(contains(page, "<td>10.31.0.20</td>")) << page;
    // A page made while those lookups still run asks no name server again.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (names->calls < 60 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    buildStatusPage(manager);
    EXPECT_EQ(names->calls, 60);

    {
        std::lock_guard lock(names->mutex);
        names->open = true;
    }
    names->opened.notify_all();
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((!tnw::util::NameResolver::knownName(address(10, 31, 1, 40)) ||
            !tnw::util::NameResolver::knownName(address(10, 31, 0, 20))) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    page = buildStatusPage(manager);
    EXPECT_TRUE(contains(page, "<td>cam-40 [10.31.1.40]</td>")) << page;
    EXPECT_TRUE(contains(page, "<td>cam-20 [10.31.0.20]</td>")) << page;
    EXPECT_EQ(names->calls, 60);
}

TEST_F(StatusPage, HostileNamesAreShownAsText) {
    const std::string hostile = "Lab \"7\" <script>alert('x')</script> & more";
    const std::string escaped =
        "Lab &quot;7&quot; &lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; more";
    server::settings().description = hostile;
    server::settings().nameLookup = {
        {tnw::util::toLowerAscii(tnw::util::localHostName()), hostile}};
    std::string page = buildStatusPage(manager);
    EXPECT_TRUE(contains(
        page, "<h1>Quorvex Plexmill</h1><h2>" + escaped + "</h2><h2>" + escaped + "</h2><p>"))
        << page;
    EXPECT_FALSE(contains(page, "alert('x')"));
}

TEST_F(StatusPage, DescriptionFallsBackToTheMachineModel) {
    server::settings().description.clear();
    std::string model = tnw::util::SystemInfo::machineModel();
    std::string page = buildStatusPage(manager);
    if (model.empty()) {
        EXPECT_TRUE(contains(page, "</h2><p>Updated: "));
        EXPECT_EQ(occurrences(page, "<h2>"), 1U);
    } else {
        server::settings().nameLookup = {{tnw::util::toLowerAscii(model), "Model <X>"}};
        EXPECT_TRUE(contains(buildStatusPage(manager), "<h2>Model &lt;X&gt;</h2><p>Updated: "));
    }
}

} // namespace
} // namespace plexmill::http
