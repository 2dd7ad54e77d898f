// The other servers heard on the network, in the order they were first heard (the order the
// servers document lists them). Each advertisement costs the same however many servers are
// known, and the list never holds more than kLimit: anyone on the network can send
// advertisements from as many addresses as they like.
#pragma once

#include "service/server/records.hpp"

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

namespace plexmill::server {

class KnownServers {
public:
    static constexpr std::size_t kLimit = 1024;
    // Microseconds after which a server not heard again is forgotten.
    static constexpr std::uint64_t kLifetime = 300'000'000;

    // An advertisement from `heard.address` at `heard.lastSeen`: forgets the servers not heard
    // for kLifetime before it, then refreshes the last-seen time of a known address (nothing
    // else of it changes) or adds the server, forgetting the longest unheard one beyond kLimit.
    void learn(KnownServer heard);

    std::size_t size() const { return servers_.size(); }
    // In list order.
    std::vector<KnownServer> list() const;

private:
    using ServerList = std::list<KnownServer>;
    struct Position {
        ServerList::iterator server;
        std::list<ServerList::iterator>::iterator heard;
    };

    void forget(ServerList::iterator server);

    ServerList servers_;                              // first heard first
    std::list<ServerList::iterator> byLastHeard_;     // longest unheard first
    std::unordered_map<std::string, Position> index_; // by address
};

} // namespace plexmill::server
