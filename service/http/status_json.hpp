// The two machine-readable documents of the status port: "/json/status.json", the state of this
// server, and "/json/servers.json", the servers it has heard on the network. The task-manager
// page polls both. The layout (key order, where line feeds stand and where they do not) is
// fixed, as tools that read the documents rely on it.
#pragma once

#include "service/http/status_snapshot.hpp"
#include "service/server/manager.hpp"

#include <string>

namespace plexmill::http {

// `requester` adds the allow list to the refusals when that client is not on it.
std::string statusJson(const server::Manager& manager, Requester requester = std::nullopt);
std::string serversJson(const server::Manager& manager);

} // namespace plexmill::http
