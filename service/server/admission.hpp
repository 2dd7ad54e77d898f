// Accepting session connections: the allow list, the admission rules, the allowed times of
// day, the access log, and the short list of recent requests the status page shows.
#pragma once

#include <cstdint>

#include "service/server/records.hpp"
#include "util/socket.hpp"
#include "util/time.hpp"

#include <cstddef>
#include <cstdint>

namespace plexmill::server {

class Manager;

// Connections whose handshake and first command have not come yet, at most. A new connection
// beyond it drops the oldest waiting connection of the address that holds the most of them,
// so idle connections cannot lock out a client that talks at once.
inline constexpr std::size_t kWaitingConnectionLimit = 64;

// Accepts every waiting connection on the (non-blocking) listener and hands each admitted one
// to a session; returns when none waits any more or after a refused one. False when the
// system has no descriptor (or memory) left for the next connection: the caller stops
// accepting for a moment rather than being woken by it again at once.
bool acceptConnections(Manager& manager, tnw::util::Socket& listener);

// The admission decision, with its console lines and access-log line.
bool admitConnection(Manager& manager, const tnw::util::InetAddress& peer);

// Counts a request in the recent requests: one record per address and kind within 300 seconds,
// newest first, at most 20.
void recordRequest(Manager& manager, PeerAddress peer, std::uint32_t kind,
                   tnw::util::Time now = tnw::util::Time::now());

} // namespace plexmill::server
