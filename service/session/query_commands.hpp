// The commands that describe the server and its sessions, and MEASURE. Each reads its argument
// lines and sends its reply; a connection that fails raises, which ends the session.
#pragma once

#include "service/session/session.hpp"

namespace plexmill::session {

void handleInfo(Session& session);
void handleSessionInfo(Session& session);
void handleSessionHistory(Session& session);
void handleUsageInfo(Session& session);
void handleMeasure(Session& session);

} // namespace plexmill::session
