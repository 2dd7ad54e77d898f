// The server's bookkeeping when a session ends: it leaves the session list, a job session
// enters the history, and a session that failed is counted.
#pragma once

#include "service/server/manager.hpp"
#include "service/session/session.hpp"
#include "util/time.hpp"

#include <cstddef>

namespace plexmill::session {

// The history keeps this many finished job sessions, newest first.
inline constexpr std::size_t kHistoryLimit = 100;

// Under the global lock: releases the session's thread, removes the session from the list
// (sessions changed), adds its record to the history when it was a job session, and counts a
// failure when it was terminated without losing its connection.
void endSession(server::Manager& manager,
                Session& session,
                tnw::util::Time now = tnw::util::Time::now());

} // namespace plexmill::session
