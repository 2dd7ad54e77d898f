// The human-readable status page (route "/"): system facts, service state, limits, statistics,
// the open and closed job sessions, recent incoming connections and the file cache, as one
// static HTML document. Times are printed by the browser in its own locale.
#pragma once

#include "service/http/status_snapshot.hpp"
#include "service/server/manager.hpp"

#include <string>

namespace plexmill::http {

// `requester` adds the allow list to the refusals when that client is not on it.
std::string buildStatusPage(const server::Manager& manager, Requester requester = std::nullopt);

} // namespace plexmill::http
