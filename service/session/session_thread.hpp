// A session from creation to its end: the starter that the server's accept loop calls for an
// admitted connection, and the body of the session's own thread.
#pragma once

#include "service/server/manager.hpp"
#include "service/session/session.hpp"
#include "util/socket.hpp"

#include <memory>

namespace plexmill::session {

// A new session on the (blocking) connection, already in the server's session list.
std::shared_ptr<Session>
createSession(server::Manager& manager, tnw::util::Socket connection, server::PeerAddress peer);

// The server's SessionStarter: creates the session and starts its thread. False, after
// printing "Failed to create thread." and ending the session, when no thread can be started.
bool startSession(server::Manager& manager, tnw::util::Socket connection, server::PeerAddress peer);

// Serves the session to its end on the calling thread: the dispatcher with its failures
// turned into the session's outcome, then closing the session and ending it. Never throws.
void runSession(Session& session);

} // namespace plexmill::session
