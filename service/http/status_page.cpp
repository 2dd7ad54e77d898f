#include "service/http/status_page.hpp"

#include "service/http/escape.hpp"
#include "service/http/html_table.hpp"
#include "service/http/status_page_tables.hpp"
#include "service/http/status_snapshot.hpp"
#include "service/http/style_sheet.hpp"
#include "service/server/capacity.hpp"
#include "service/server/settings.hpp"
#include "util/durations.hpp"
#include "util/format.hpp"
#include "util/name_resolver.hpp"
#include "util/sizes.hpp"
#include "util/sync.hpp"
#include "util/version.hpp"

#include <cmath>

namespace plexmill::http {

namespace {

using tnw::util::format;
using tnw::util::formatDuration;
using tnw::util::formatDurationWords;
using tnw::util::formatSize;

std::string systemRows(const StatusSnapshot& snapshot) {
    std::string rows =
        statusRow("Processors:", format("%1", tnw::util::SystemInfo::processorCount()));
    if (double rating = server::knownSystemRating(); rating > 0) {
        rows +=
            statusRow("Rating:", format("%1", static_cast<std::int64_t>(std::floor(rating + 0.5))));
    }
    rows += statusRow("Operating system:", htmlText(operatingSystemName()));
    rows += statusRow("Available memory:", formatSize(snapshot.memory.availablePhysical));
    rows += statusRow("Total memory:", formatSize(snapshot.memory.totalPhysical));
    rows += statusRow("Memory in-use:", formatSize(snapshot.memoryInUse));
    return rows;
}

std::string serviceRows(const server::Manager& manager, const StatusSnapshot& snapshot) {
    std::string rows = statusRow("Running since:", dateScript(processStartTime()));
    rows += statusRow("Version:", htmlText(tnw::util::versionText()));
    rows +=
        statusRow("Status:", snapshot.accepting ? "Accepting sessions" : "Not accepting sessions");
    // Only while something refuses work, so a server that takes it shows the usual rows.
    std::string reasons;
    for (const server::RefusalName& name : server::refusalNames()) {
        if (snapshot.refusals.has(name.refusal)) {
            reasons += (reasons.empty() ? "" : ", ") + std::string(name.text);
        }
    }
    if (!reasons.empty()) {
        rows += statusRow("Refusals:", reasons);
    }
    rows += statusRow("Port (TCP):", format("%1", manager.config.port));
    rows += statusRow("Broadcast port (UDP):", format("%1", manager.config.broadcastPort));
    return rows;
}

std::string limitsRows(const server::Manager& manager) {
    const server::Settings& options = server::settings();
    std::string rows = statusRow("Session timeout:", formatDurationWords(options.sessionTimeout));
    rows += statusRow("Minimum memory:", formatSize(manager.config.minimumSystemMemory));
    rows += statusRow("Maximum data size:", formatSize(options.maximumDataSize));
    rows += statusRow("Maximum sessions:", format("%1", manager.config.maximumSessions));
    rows += statusRow("Cache:", options.nocache ? "No" : "Yes");
    rows += statusRow("Cache size:", formatSize(server::FileCache::kCapacity));
    rows += statusRow("Cache timeout:", formatDurationWords(server::FileCache::kLifetime));
    return rows;
}

std::string statsRows(const StatusSnapshot& snapshot) {
    const server::Statistics& statistics = snapshot.statistics;
    std::string rows = statusRow("Open sessions:", format("%1", snapshot.openSessions));
    rows += statusRow("Total sessions:", format("%1", snapshot.totalSessions));
    // One decimal, rounded half up.
    double cpu =
        static_cast<double>(static_cast<std::int64_t>(snapshot.cpuUsage * 1000 + 0.5)) / 10.0;
    rows += statusRow("CPU usage:", format("%1%%", cpu));
    rows += statusRow("Total elapsed time:", formatDuration(statistics.elapsedTime));
    rows += statusRow("Total processing time:", formatDuration(statistics.processingTime));
    if (statistics.failures == 0) {
        rows += statusRow("Total failures:", "None");
    } else {
        rows += statusRow("Total failures:", format("%1", statistics.failures));
        rows += statusRow("Last failure:", dateScript(statistics.lastFailure));
    }
    return rows;
}

std::string ioRows(const StatusSnapshot& snapshot) {
    std::string rows =
        statusRow("Total data received:", formatSize(snapshot.statistics.dataReceived));
    rows += statusRow("Total data sent:", formatSize(snapshot.statistics.dataSent));
    rows += statusRow("Total cache size:", formatSize(snapshot.cacheTotalSize));
    rows += statusRow("Total cache hits:", format("%1", snapshot.cacheHits));
    rows += statusRow("Total cache reuse:", formatSize(snapshot.cacheHitBytes));
    return rows;
}

std::string overview(const server::Manager& manager, const StatusSnapshot& snapshot) {
    std::string text =
        "<table border=\"1\">"
        "<tr><th>System</th><th>Service</th><th>Limits</th><th>Stats</th><th>IO</th></tr>"
        "<tr class=\"all\">";
    for (const std::string& rows : {systemRows(snapshot),
                                    serviceRows(manager, snapshot),
                                    limitsRows(manager),
                                    statsRows(snapshot),
                                    ioRows(snapshot)}) {
        text += "<td><table>" + rows + "</table></td>";
    }
    text += "</tr></table><br/>";
    return text;
}

// The first entries in the cache's own order, copied so the rows can be written without the lock.
std::vector<server::CacheEntry> cacheEntries(const server::Manager& manager) {
    std::vector<server::CacheEntry> entries;
    tnw::util::Lock lock(tnw::util::globalLock());
    for (const auto& [checksum, entry] : manager.fileCache.entries()) {
        if (entries.size() == kMaximumTableRows) {
            break;
        }
        entries.push_back(entry);
    }
    return entries;
}

// Starts the lookups of every table together, so that the page waits for names once; the
// tables then find them answered or past their wait.
void lookUpPeers(const StatusSnapshot& snapshot, const std::vector<server::CacheEntry>& entries) {
    std::vector<std::uint32_t> addresses;
    addPeers(snapshot.jobSessions, addresses);
    addPeers(snapshot.history, addresses);
    addPeers(snapshot.recentRequests, addresses);
    addPeers(entries, addresses);
    tnw::util::NameResolver::lookupNames(addresses);
}

std::string body(const server::Manager& manager, Requester requester) {
    StatusSnapshot snapshot =
        takeSnapshot(manager, SnapshotLimits{kMaximumTableRows, kMaximumTableRows});
    snapshot.refusals = server::refusalsFor(snapshot.refusals, requester);
    std::vector<server::CacheEntry> entries;
    if (!server::settings().nocache) {
        entries = cacheEntries(manager);
    }
    lookUpPeers(snapshot, entries);
    std::string text = "<h1>Quorvex Plexmill</h1>";
    text += "<h2>" + htmlText(systemName()) + "</h2>";
    if (std::string description = systemDescription(); !description.empty()) {
        text += "<h2>" + htmlText(description) + "</h2>";
    }
    text += format("<p>Updated: %1</p>", dateScript(snapshot.now));
    text += "<a href=\"taskmanager\">Open Network Task Manager</a><br/><br/>";
    text += overview(manager, snapshot);

    text += "<h3>Current Sessions</h3>";
    text += snapshot.jobSessions.empty() ? "<p>No current sessions</p>"
                                         : currentSessionsTable(snapshot.jobSessions);
    text += "<br/><h3>Closed Sessions</h3>";
    text += snapshot.history.empty() ? "<p>No closed sessions</p>"
                                     : closedSessionsTable(snapshot.history);
    text += "</br><h3>Incoming Connections</h3>";
    text += snapshot.recentRequests.empty() ? "<p>No current incoming connections</p>"
                                            : incomingConnectionsTable(snapshot.recentRequests);
    if (!server::settings().nocache) {
        text += "</br><h3>Cache</h3>";
        text += entries.empty() ? "<p>No cache</p>" : cacheTable(entries, snapshot.now);
    }
    text += format("</br></br><a href=\"%1\">%2</a>",
                   tnw::util::kProductWebAddress,
                   std::string_view(tnw::util::kProductWebAddress)
                       .substr(std::string_view("https://").size()));
    return text;
}

} // namespace

std::string buildStatusPage(const server::Manager& manager, Requester requester) {
    std::string page = "<html><head><style type=\"text/css\">";
    page += styleSheet();
    page += "</style><link rel=\"icon\" type=\"image/png\" href=\"plexmon.ico\"/>"
            "<meta http-equiv=\"Content-type\" content=\"text/html;charset=UTF-8\"/></head>"
            "<title>Quorvex Plexmill</title><body>";
    page += body(manager, requester);
    page += "</body></html>";
    return page;
}

} // namespace plexmill::http
