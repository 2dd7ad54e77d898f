// "/metrics" on the status port: the status snapshot in the Prometheus text exposition format
// (version 0.0.4), so that a site's monitoring scrapes the same numbers the status documents
// show, without a second set of counters on the session paths.
#pragma once

#include "service/http/routes.hpp"
#include "service/http/status_snapshot.hpp"
#include "service/server/manager.hpp"

#include <string>
#include <string_view>

namespace plexmill::http {

inline constexpr std::string_view kMetricsPath = "/metrics";

// The exposition text; `requester` decides the allow-list refusal as in the status documents.
std::string metricsText(const server::Manager& manager, Requester requester);

// The whole response: the text with its own content type, not cached, connection kept.
Answer metricsAnswer(const server::Manager& manager, Requester requester);

} // namespace plexmill::http
