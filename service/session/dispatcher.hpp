// The session protocol on one connection: the session folder, the handshake, the command loop
// and what follows DONE. Failing connections raise; the session thread handles the outcome.
#pragma once

#include "service/session/session.hpp"

namespace plexmill::session {

void dispatch(Session& session);

} // namespace plexmill::session
