#pragma once

#include "service/server/manager.hpp"

namespace plexmill::cli {

// Connects a server to the session and HTTP services of this program; for server::runServer.
void wireServer(server::Manager& manager);

} // namespace plexmill::cli
