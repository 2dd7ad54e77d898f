// Accepting session connections: the allow list, the admission rules, the allowed times of
// day, the access log, and the short list of recent requests the status page shows.
#pragma once

#include <cstdint>

#include "service/server/records.hpp"
#include "util/socket.hpp"
#include "util/time.hpp"

namespace plexmill::server {

class Manager;

// Accepts every waiting connection on the (non-blocking) listener and hands each admitted one
// to a session; returns when none waits any more or after a refused one.
void acceptConnections(Manager& manager, tnw::util::Socket& listener);

// The admission decision, with its console lines and access-log line.
bool admitConnection(Manager& manager, const tnw::util::InetAddress& peer);

// Counts a request in the recent requests: one record per address and kind within 300 seconds,
// newest first, at most 20.
void recordRequest(Manager& manager, PeerAddress peer, std::uint32_t kind,
                   tnw::util::Time now = tnw::util::Time::now());

} // namespace plexmill::server
