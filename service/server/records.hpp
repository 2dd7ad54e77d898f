// The plain records the server keeps about peers, finished sessions and other servers.
#pragma once

#include <cstdint>
#include <string>

#include "util/time.hpp"

namespace plexmill::server {

struct PeerAddress {
    std::uint32_t address = 0; // IPv4, host order
    std::uint16_t port = 0;
};

// A finished job session, newest first in the history.
struct SessionRecord {
    PeerAddress peer;
    std::string user;
    std::string application;
    tnw::util::Time startTime;
    tnw::util::Time endTime;
    std::uint64_t cpuTime = 0; // microseconds
    std::uint64_t memory = 0;  // bytes
    std::uint64_t bytesReceived = 0;
    std::uint64_t bytesSent = 0;
    std::string status;
};

// One recent incoming request per peer address and kind within 300 seconds.
struct RequestRecord {
    enum Kind : std::uint32_t { Session = 1, Discovery = 2, Http = 4 };
    PeerAddress peer;
    tnw::util::Time firstSeen;
    tnw::util::Time lastSeen;
    std::uint32_t kind = 0;
    std::string name;
    std::uint32_t count = 1;
};

// A server heard from on the network.
struct KnownServer {
    tnw::util::Time lastSeen;
    std::string address; // dotted
    std::uint32_t revision = 0;
    bool http = false;
};

} // namespace plexmill::server
