// The list tables of the status page: open job sessions, closed sessions, incoming
// connections and the file cache. Each is a plain function of copied state; host names are
// resolved here, after the global lock has been released.
#pragma once

#include "service/http/status_snapshot.hpp"
#include "service/server/file_cache.hpp"
#include "service/server/records.hpp"

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

} // namespace plexmill::http
