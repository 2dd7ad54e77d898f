// The commands with which a client names itself: USER, APPLICATION (each once per session)
// and REVISION, which later selects the CAM kernel folder.
#pragma once

#include "service/session/session.hpp"

namespace plexmill::session {

void handleUser(Session& session);
void handleApplication(Session& session);
void handleRevision(Session& session);

} // namespace plexmill::session
