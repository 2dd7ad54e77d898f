// The replies that describe sessions: SESSION_INFO for a live one and SESSION_HISTORY for the
// finished ones. Plain functions of what the server copied out under its lock.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace plexmill::protocol {

struct LiveSession {
    std::uint32_t address = 0; // IPv4, host order
    std::uint16_t port = 0;
    std::string application;
    std::string user;
    std::uint64_t since = 0; // microseconds since 1601
    bool waiting = false;    // blocked reading its next command
    std::uint64_t cpuTime = 0;
    std::uint64_t memory = 0;
    double cpuUsage = 0;
};

struct FinishedSession {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    std::string application;
    std::string user;
    std::uint64_t started = 0;
    std::uint64_t completed = 0;
};

// The block for the session, or only the empty line when there is none.
std::string sessionInfoReply(const LiveSession* session);

// One block per finished session, newest first, while its completion is at or after `since`;
// then one more empty line.
std::string sessionHistoryReply(std::span<const FinishedSession> newestFirst, std::int64_t since);

// "a.b.c.d:port"
std::string hostText(std::uint32_t address, std::uint16_t port);

} // namespace plexmill::protocol
