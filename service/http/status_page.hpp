// The human-readable status page (route "/"): system facts, service state, limits, statistics,
// the open and closed job sessions, recent incoming connections and the file cache, as one
// static HTML document. Times are printed by the browser in its own locale.
#pragma once

#include "service/server/manager.hpp"

#include <string>

namespace plexmill::http {

std::string buildStatusPage(const server::Manager& manager);

} // namespace plexmill::http
