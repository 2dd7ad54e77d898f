// The two machine-readable documents of the status port: "/json/status.json", the state of this
// server, and "/json/servers.json", the servers it has heard on the network. The task-manager
// page polls both. The layout (key order, where line feeds stand and where they do not) is
// fixed, as tools that read the documents rely on it.
#pragma once

#include "service/server/manager.hpp"

#include <string>

namespace plexmill::http {

std::string statusJson(const server::Manager& manager);
std::string serversJson(const server::Manager& manager);

} // namespace plexmill::http
