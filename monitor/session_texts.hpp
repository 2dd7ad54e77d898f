// The lines the menu lists for the local server's sessions: who is connected and since when,
// and how long the finished ones took.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plexmill::monitor {

// What SESSION_INFO tells of a live session; numbers that are missing or not numbers are 0.
struct LiveSessionFacts {
    std::string host; // "a.b.c.d:port"
    std::string user;
    std::uint64_t since = 0; // microseconds since 1601, UTC
    std::uint64_t processingTime = 0;
    std::uint64_t memoryUsage = 0; // bytes
};

// One record of a SESSION_HISTORY reply.
struct FinishedSessionFacts {
    std::string host;
    std::string user;
    std::int64_t started = 0;
    std::int64_t completed = 0;
};

LiveSessionFacts readLiveSession(const std::vector<std::string>& sessionInfoLines);

// "name [a.b.c.d]: USER=u SINCE=7-3-2017 9:05:00 MEM=12Mb", or "[a.b.c.d]: ..." when the address
// has no name; the time in the machine's local zone.
std::string activeSessionText(const LiveSessionFacts& session);
// "name [a.b.c.d]: USER=u TIME=01:02.003", the time it took from start to completion.
std::string recentSessionText(const FinishedSessionFacts& session);

} // namespace plexmill::monitor
