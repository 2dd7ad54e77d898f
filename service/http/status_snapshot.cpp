#include "service/http/status_snapshot.hpp"

#include "service/protocol/platform_name.hpp"
#include "service/server/settings.hpp"
#include "util/name_resolution.hpp"
#include "util/process.hpp"
#include "util/sync.hpp"

#include <algorithm>

namespace plexmill::http {

namespace {

LiveSession liveSession(const server::SessionState& session) {
    return LiveSession{session.id,
                       session.peer,
                       session.user,
                       session.application,
                       session.startTime,
                       session.waiting,
                       session.cpuTime,
                       session.memory,
                       session.cpuUsage,
                       session.bytesReceived,
                       session.bytesSent};
}

template <class Source, class Target>
void copyFirst(const Source& source, std::size_t limit, Target& target) {
    auto count = static_cast<std::ptrdiff_t>(std::min(limit, source.size()));
    target.assign(source.begin(), source.begin() + count);
}

} // namespace

StatusSnapshot takeSnapshot(const server::Manager& manager, SnapshotLimits limits) {
    StatusSnapshot snapshot;
    // Outside the lock: these read files.
    static const tnw::util::Process self = tnw::util::Process::current();
    std::uint64_t workingSet = self.workingSet();
    snapshot.refusals = server::currentRefusals(manager);
    snapshot.accepting = snapshot.refusals.empty();
    snapshot.memory = tnw::util::SystemInfo::memoryStatus();
    snapshot.cpuUsage = manager.cpuUsage.load();
    snapshot.now = tnw::util::Time::now();

    tnw::util::Lock lock(tnw::util::globalLock());
    std::uint64_t sessionMemory = 0;
    for (const auto& session : manager.sessions) {
        if (session->jobSession) {
            sessionMemory += session->memory;
            snapshot.jobSessions.push_back(liveSession(*session));
        }
    }
    snapshot.memoryInUse = workingSet + sessionMemory;
    snapshot.openSessions = manager.sessions.size();
    snapshot.totalSessions = manager.totalSessions;
    snapshot.statistics = manager.statistics;
    snapshot.cacheTotalSize = manager.fileCache.totalSize();
    snapshot.cacheHits = manager.fileCache.hits();
    snapshot.cacheHitBytes = manager.fileCache.hitBytes();
    snapshot.cacheEntries = manager.fileCache.entries().size();
    snapshot.knownServers = manager.knownServers.size();
    copyFirst(manager.history, limits.history, snapshot.history);
    copyFirst(manager.recentRequests, limits.requests, snapshot.recentRequests);
    return snapshot;
}

std::int64_t unixSeconds(tnw::util::Time time) {
    return time.unixMicroseconds() / 1'000'000;
}

double secondsBetween(tnw::util::Time from, tnw::util::Time to) {
    return static_cast<double>(to.unixMicroseconds() - from.unixMicroseconds()) / 1'000'000.0;
}

double seconds(std::uint64_t microseconds) {
    return static_cast<double>(microseconds) / 1'000'000.0;
}

std::string systemName() {
    return server::lookupDisplayName(tnw::util::localHostName());
}

std::string systemDescription() {
    const std::string& description = server::settings().description;
    if (!description.empty()) {
        return description;
    }
    return server::lookupDisplayName(tnw::util::SystemInfo::machineModel());
}

std::string operatingSystemName() {
    if (server::settings().cloud) {
        return "Cloud";
    }
    return protocol::platformDisplayName(tnw::util::SystemInfo::platformName());
}

tnw::util::Time processStartTime() {
    static const tnw::util::Time started = tnw::util::Process::current().creationTime();
    return started;
}

} // namespace plexmill::http
