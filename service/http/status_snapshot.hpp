// What the status documents show of the server at one moment: the state guarded by the global
// lock is copied while the lock is held, and the documents are rendered from the copy, so no
// renderer holds the lock while it formats text or resolves host names.
#pragma once

#include "service/server/manager.hpp"
#include "service/server/refusals.hpp"
#include "util/system_info.hpp"
#include "util/time.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plexmill::http {

// The part of a live job session the documents show.
struct LiveSession {
    std::int64_t id = 0;
    server::PeerAddress peer;
    std::string user;
    std::string application;
    tnw::util::Time startTime;
    bool waiting = false;
    std::uint64_t cpuTime = 0; // microseconds
    std::uint64_t memory = 0;  // bytes
    double cpuUsage = 0.0;     // 0..1
    std::uint64_t bytesReceived = 0;
    std::uint64_t bytesSent = 0;
};

struct StatusSnapshot {
    tnw::util::Time now;
    tnw::util::MemoryStatus memory;
    // This process's working set plus the memory of every job session.
    std::uint64_t memoryInUse = 0;
    bool accepting = false;
    // What keeps it from accepting, and the allow list once a document adds it for the client
    // it is rendered for (server::refusalsFor).
    server::Refusals refusals;
    double cpuUsage = 0.0; // 0..1

    // Every session in the list, job session or not.
    std::size_t openSessions = 0;
    std::uint32_t totalSessions = 0;
    server::Statistics statistics;
    std::uint64_t cacheTotalSize = 0;
    std::uint64_t cacheHits = 0;
    std::uint64_t cacheHitBytes = 0;
    std::size_t cacheEntries = 0;
    std::size_t knownServers = 0;

    // In list order; sessions that are not job sessions are left out.
    std::vector<LiveSession> jobSessions;
    // Newest first, at most `historyLimit` of them.
    std::vector<server::SessionRecord> history;
    // Newest first, at most `requestLimit` of them.
    std::vector<server::RequestRecord> recentRequests;
};

// The client a document is rendered for (IPv4, host order), when there is one: the allow
// list is judged for that address.
using Requester = std::optional<std::uint32_t>;

struct SnapshotLimits {
    std::size_t history = SIZE_MAX;
    std::size_t requests = 0;
};

StatusSnapshot takeSnapshot(const server::Manager& manager, SnapshotLimits limits);

// Seconds since 1970-01-01 UTC, truncated toward zero.
std::int64_t unixSeconds(tnw::util::Time time);
// (to - from) in seconds; negative when `to` is earlier.
double secondsBetween(tnw::util::Time from, tnw::util::Time to);
// A microsecond count in seconds.
double seconds(std::uint64_t microseconds);

// This machine's host name and description as the documents name them: passed through the
// name lookup table; the description is the --description text, else the machine model.
std::string systemName();
std::string systemDescription();
// "Cloud" in cloud mode, else the display name of this platform.
std::string operatingSystemName();
// When this process started.
tnw::util::Time processStartTime();

} // namespace plexmill::http
