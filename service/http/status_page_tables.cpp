#include "service/http/status_page_tables.hpp"

#include "service/http/escape.hpp"
#include "service/http/html_table.hpp"
#include "service/server/peer_display_name.hpp"
#include "service/server/settings.hpp"
#include "util/durations.hpp"
#include "util/format.hpp"
#include "util/name_resolver.hpp"
#include "util/sizes.hpp"

#include <algorithm>
#include <cstdint>

namespace plexmill::http {

namespace {

using tnw::util::format;
using tnw::util::formatDuration;
using tnw::util::formatDurationWords;
using tnw::util::formatSize;

constexpr std::string_view kUnspecified = "Unspecified";

std::string textOrUnspecified(const std::string& text) {
    return text.empty() ? std::string(kUnspecified) : htmlText(text);
}

// Names come from the lookups the table started together (lookUpPeers).
std::string peerCell(server::PeerAddress peer) {
    return cell(htmlText(server::knownPeerDisplayName(peer.address)));
}

template <class Element> void lookUpPeers(const std::vector<Element>& elements) {
    std::vector<std::uint32_t> addresses;
    addPeers(elements, addresses);
    tnw::util::NameResolver::lookupNames(addresses);
}

// Microseconds from `from` to `to`; 0 when `to` is not later.
std::uint64_t durationBetween(tnw::util::Time from, tnw::util::Time to) {
    return to > from ? to.value() - from.value() : 0;
}

std::string currentSessionRow(const LiveSession& session) {
    std::string cells = cell(format("%1", session.id));
    cells += peerCell(session.peer);
    cells += cell(textOrUnspecified(session.user));
    cells += cell(textOrUnspecified(session.application));
    cells += cell(dateScript(session.startTime));
    cells += cell(session.waiting ? "Waiting" : "Processing");
    cells +=
        cell(session.cpuTime == 0 ? std::string(kUnspecified) : formatDuration(session.cpuTime));
    cells += cell(session.memory == 0 ? std::string(kUnspecified) : formatSize(session.memory));
    if (session.cpuUsage > 0) {
        // Two decimals, truncated.
        double percent =
            static_cast<double>(static_cast<std::int64_t>(session.cpuUsage * 100 * 100)) / 100.0;
        cells += format("<td>%1%%</td>", percent);
    } else {
        cells += cell(kUnspecified);
    }
    cells += cell(formatSize(session.bytesReceived));
    cells += cell(formatSize(session.bytesSent));
    return cells;
}

// The CPU time and its share of the elapsed time, one decimal truncated; without a share when
// no time elapsed.
std::string processingCell(std::uint64_t cpuTime, std::uint64_t elapsed) {
    std::string text = formatDuration(cpuTime);
    if (elapsed != 0) {
        double share = static_cast<double>(cpuTime * 1000 / elapsed) / 10.0;
        text += format(" (%1%%)", share);
    }
    return cell(text);
}

std::string closedSessionRow(const server::SessionRecord& record) {
    std::uint64_t elapsed = durationBetween(record.startTime, record.endTime);
    std::string cells = peerCell(record.peer);
    cells += cell(record.user.empty() ? std::string(kUnspecified)
                                      : htmlText(server::lookupDisplayName(record.user)));
    cells += cell(textOrUnspecified(record.application));
    cells += cell(dateScript(record.startTime));
    cells += cell(dateScript(record.endTime));
    cells += cell(formatDurationWords(elapsed));
    cells += processingCell(record.cpuTime, elapsed);
    cells += cell(formatSize(record.memory));
    cells += cell(formatSize(record.bytesReceived));
    cells += cell(formatSize(record.bytesSent));
    cells += cell(htmlText(record.status));
    return cells;
}

std::string requestRow(const server::RequestRecord& request) {
    std::string time = dateScript(request.firstSeen);
    std::int64_t seen =
        (request.lastSeen.unixMicroseconds() - request.firstSeen.unixMicroseconds()) / 1'000'000;
    if (seen != 0) {
        time += format(" [+%1s]", seen);
    }
    std::string cells = cell(time);
    cells += peerCell(request.peer);
    cells += cell(requestType(request));
    return cells;
}

std::string cacheRow(const server::CacheEntry& entry, tnw::util::Time now) {
    std::uint64_t expires = entry.lastUse.value() + server::FileCache::kLifetime;
    std::string cells = cell(dateScript(entry.lastUse));
    cells += cell(expires > now.value() ? formatDurationWords(expires - now.value()) : "Expired");
    cells += peerCell(entry.source);
    cells += cell(htmlText(entry.checksum));
    cells += cell(formatSize(entry.size));
    cells += cell(format("%1", entry.hits));
    return cells;
}

template <class Element, class Row>
std::string table(std::string_view header, const std::vector<Element>& elements, Row row) {
    lookUpPeers(elements);
    HtmlTable html(header);
    std::size_t count = std::min(elements.size(), kMaximumTableRows);
    for (std::size_t i = 0; i < count; ++i) {
        html.addRow(row(elements[i]));
    }
    return html.finish();
}

} // namespace

std::string currentSessionsTable(const std::vector<LiveSession>& sessions) {
    HtmlTable html("<tr><th>ID</th><th>Host</th><th>User</th><th>Application</th><th>Since</th>"
                   "<th>Status</th><th>Processing</th><th>Memory</th><th>CPU</th>"
                   "<th>Received</th><th>Sent</th></tr>");
    lookUpPeers(sessions);
    for (const LiveSession& session : sessions) {
        html.addRow(currentSessionRow(session));
    }
    return html.finish();
}

std::string closedSessionsTable(const std::vector<server::SessionRecord>& history) {
    return table("<tr><th>Host</th><th>User</th><th>Application</th><th>Started</th>"
                 "<th>Completed</th><th>Elapsed</th><th>Processing</th><th>Memory</th>"
                 "<th>Received</th><th>Sent</th><th>Status</th></tr>",
                 history,
                 closedSessionRow);
}

std::string incomingConnectionsTable(const std::vector<server::RequestRecord>& requests) {
    return table("<tr><th>Time</th><th>Host</th><th>Type</th></tr>", requests, requestRow);
}

std::string cacheTable(const std::vector<server::CacheEntry>& entries, tnw::util::Time now) {
    return table("<tr><th>Time</th><th>Expires</th><th>Host</th><th>Checksum</th><th>Size</th>"
                 "<th>Hits</th></tr>",
                 entries,
                 [now](const server::CacheEntry& entry) { return cacheRow(entry, now); });
}

std::string requestType(const server::RequestRecord& request) {
    std::string type;
    if ((request.kind & server::RequestRecord::Session) != 0) {
        type += "SESSION ";
    }
    if ((request.kind & server::RequestRecord::Discovery) != 0) {
        type += "SEARCH ";
    }
    if ((request.kind & server::RequestRecord::Http) != 0) {
        type += "HTTP ";
    }
    if (request.count > 1) {
        type += format("[%1]", request.count);
    }
    return type;
}

} // namespace plexmill::http
