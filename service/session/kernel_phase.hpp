// What follows DONE when a job is loaded: the kernel runs on the session thread while a
// watcher thread reads the one line the client may send meanwhile ("ACK", or "ABORT" to stop
// the kernel; anything else, or losing the connection, aborts too).
#pragma once

#include "service/session/session.hpp"

namespace plexmill::session {

// Runs the kernel with the watcher, sends the final reply line, shuts the sending side down,
// waits for the watcher and closes the session.
void runKernelPhase(Session& session);

// The watcher's body: reads one line unless the session is already aborted.
void watchKernelPhase(Session& session);

} // namespace plexmill::session
