#include "service/http/status_json.hpp"

#include "service/http/escape.hpp"
#include "service/http/status_snapshot.hpp"
#include "service/server/capacity.hpp"
#include "service/server/settings.hpp"
#include "util/format.hpp"
#include "util/inet_address.hpp"
#include "util/sync.hpp"
#include "util/version.hpp"

namespace plexmill::http {

namespace {

using tnw::util::format;

std::string dotted(server::PeerAddress peer) {
    return tnw::util::InetAddress(peer.address, 0).addressText();
}

std::string systemObject(const StatusSnapshot& snapshot) {
    std::string text = "\"system\": {";
    text += format("\"name\": \"%1\",", jsonText(systemName()));
    if (std::string description = systemDescription(); !description.empty()) {
        text += format("\"description\": \"%1\",", jsonText(description));
    }
    text += format("\"processors\": %1,", tnw::util::SystemInfo::processorCount());
    text += format("\"os\": \"%1\",", jsonText(operatingSystemName()));
    text += format("\"availableMemory\": %1,", snapshot.memory.availablePhysical);
    text += format("\"totalMemory\": %1,", snapshot.memory.totalPhysical);
    text += format("\"memoryInUse\": %1,", snapshot.memoryInUse);
    text += format("\"rating\": %1", server::knownSystemRating());
    text += "},\n";
    return text;
}

// The refusals follow "busy", the bit they explain: readers of the earlier keys see them in
// their places.
std::string serviceObject(const StatusSnapshot& snapshot, Requester requester) {
    std::string text =
        format("\"service\": {\"runningSince\": %1,\"version\": \"%2\",\"busy\": %3,",
               unixSeconds(processStartTime()),
               jsonText(tnw::util::versionText()),
               !snapshot.accepting);
    server::Refusals refusals = server::refusalsFor(snapshot.refusals, requester);
    std::string keys;
    for (const server::RefusalName& name : server::refusalNames()) {
        if (refusals.has(name.refusal)) {
            keys += format(keys.empty() ? "\"%1\"" : ", \"%1\"", name.key);
        }
    }
    text += "\"refusals\": [" + keys + "]},\n";
    return text;
}

std::string limitsObject(const server::Manager& manager) {
    const server::Settings& options = server::settings();
    return format("\"limits\": {\"sessionTimeout\": %1,\"minimumMemory\": %2,"
                  "\"maximumDataSize\": %3,\"maximumSessions\": %4,\"cache\": %5,"
                  "\"cacheSize\": %6,\"cacheTimeout\": %7},\n",
                  options.sessionTimeout,
                  manager.config.minimumSystemMemory,
                  options.maximumDataSize,
                  manager.config.maximumSessions,
                  !options.nocache,
                  server::FileCache::kCapacity,
                  server::FileCache::kLifetime);
}

std::string statsObject(const server::Manager& manager, const StatusSnapshot& snapshot) {
    const server::Statistics& statistics = snapshot.statistics;
    std::string text = "\"stats\": {";
    text += format("\"openSessions\": %1,\"totalSessions\": %2,\"cpuUsage\": %3,",
                   snapshot.openSessions,
                   snapshot.totalSessions,
                   snapshot.cpuUsage * 100.0);
    text += format("\"numberOfTCPRequests\": %1,\"numberOfUDPRequests\": %2,",
                   manager.numberOfTCPRequests.load(),
                   manager.numberOfUDPRequests.load());
    text += format(
        "\"dataReceived\": %1,\"dataSent\": %2,", statistics.dataReceived, statistics.dataSent);
    text += format("\"cacheSize\": %1,\"cacheHits\": %2,\"cacheReuse\": %3,",
                   snapshot.cacheTotalSize,
                   snapshot.cacheHits,
                   snapshot.cacheHitBytes);
    text += format("\"elapsedTime\": %1,\"processingTime\": %2,",
                   seconds(statistics.elapsedTime),
                   seconds(statistics.processingTime));
    if (statistics.failures != 0) {
        text += format("\"failures\": %1,\"lastFailure\": %2",
                       statistics.failures,
                       unixSeconds(statistics.lastFailure));
    } else {
        text += format("\"failures\": %1", statistics.failures);
    }
    text += "},\n";
    return text;
}

std::string currentSessionLine(const LiveSession& session, tnw::util::Time now) {
    return format("{\"id\": %1,\"host\": \"%2\",\"user\": \"%3\",\"application\": \"%4\","
                  "\"started\": %5,\"elapsedTime\": %6,\"processing\": %7,"
                  "\"processingTime\": %8,\"memory\": %9,\"cpu\": %10,\"received\": %11,"
                  "\"sent\": %12}",
                  session.id,
                  dotted(session.peer),
                  jsonText(server::lookupDisplayName(session.user)),
                  jsonText(session.application),
                  unixSeconds(session.startTime),
                  secondsBetween(session.startTime, now),
                  session.waiting,
                  seconds(session.cpuTime),
                  session.memory,
                  session.cpuUsage,
                  session.bytesReceived,
                  session.bytesSent);
}

std::string closedSessionLine(const server::SessionRecord& record) {
    return format("{\"host\": \"%1\",\"user\": \"%2\",\"application\": \"%3\",\"started\": %4,"
                  "\"completed\": %5,\"elapsedTime\": %6,\"processingTime\": %7,"
                  "\"memory\": %8,\"received\": %9,\"sent\": %10,\"status\": \"%11\"}",
                  dotted(record.peer),
                  jsonText(server::lookupDisplayName(record.user)),
                  jsonText(record.application),
                  unixSeconds(record.startTime),
                  unixSeconds(record.endTime),
                  secondsBetween(record.startTime, record.endTime),
                  seconds(record.cpuTime),
                  record.memory,
                  record.bytesReceived,
                  record.bytesSent,
                  jsonText(record.status));
}

// One element per line, a comma after every one but the last.
template <class Element, class Render>
std::string lines(const std::vector<Element>& elements, Render render) {
    std::string text;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        text += render(elements[i]);
        text += i + 1 < elements.size() ? ",\n" : "\n";
    }
    return text;
}

} // namespace

std::string statusJson(const server::Manager& manager, Requester requester) {
    StatusSnapshot snapshot = takeSnapshot(manager, SnapshotLimits{});
    std::string text = "{";
    text += systemObject(snapshot);
    text += serviceObject(snapshot, requester);
    text += limitsObject(manager);
    text += statsObject(manager, snapshot);
    text += "\"currentSessions\": [\n";
    text += lines(snapshot.jobSessions, [&](const LiveSession& session) {
        return currentSessionLine(session, snapshot.now);
    });
    text += "],\n";
    text += "\"closedSessions\": [\n";
    text += lines(snapshot.history, closedSessionLine);
    text += "]\n";
    text += "}";
    return text;
}

std::string serversJson(const server::Manager& manager) {
    std::vector<server::KnownServer> servers;
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        servers = manager.knownServers.list();
    }
    std::string text = "{\"servers\": [\n";
    text += lines(servers, [](const server::KnownServer& known) {
        return format("{\"address\": \"%1\", \"revision\": %2, \"http\": %3}",
                      jsonText(known.address),
                      known.revision,
                      known.http);
    });
    text += "]\n}";
    return text;
}

} // namespace plexmill::http
