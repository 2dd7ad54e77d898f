// The list tables of the status page: open job sessions, closed sessions, incoming
// connections and the file cache. Each is a plain function of copied state; host names are
// resolved here, after the global lock has been released, all of a table's at once
// (NameResolver::lookupNames): a table waits at most one lookup time-out for them.
#pragma once

#include "service/http/status_snapshot.hpp"
#include "service/server/file_cache.hpp"
#include "service/server/records.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace plexmill::http {

// Longer lists are cut to their first (newest) rows.
inline constexpr std::size_t kMaximumTableRows = 40;

std::string currentSessionsTable(const std::vector<LiveSession>& sessions);
std::string closedSessionsTable(const std::vector<server::SessionRecord>& history);
std::string incomingConnectionsTable(const std::vector<server::RequestRecord>& requests);
std::string cacheTable(const std::vector<server::CacheEntry>& entries, tnw::util::Time now);

// "SESSION ", "SEARCH ", "HTTP " by the kind's bits, then "[count]" when seen more than once.
std::string requestType(const server::RequestRecord& request);

// The peer a row names.
inline server::PeerAddress peerOf(const LiveSession& session) {
    return session.peer;
}
inline server::PeerAddress peerOf(const server::SessionRecord& record) {
    return record.peer;
}
inline server::PeerAddress peerOf(const server::RequestRecord& request) {
    return request.peer;
}
inline server::PeerAddress peerOf(const server::CacheEntry& entry) {
    return entry.source;
}

template <class Element>
void addPeers(const std::vector<Element>& elements, std::vector<std::uint32_t>& addresses) {
    for (const Element& element : elements) {
        addresses.push_back(peerOf(element).address);
    }
}

} // namespace plexmill::http
