// The first line of an HTTP request. The status service answers GET only and matches paths
// exactly (a query string is part of the path); the other header lines are not interpreted.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plexmill::http {

// The path of a GET request line: "GET", blanks or tabs, the path up to the next blank, blanks
// or tabs, then either nothing or "HTTP/" major "." minor in decimal digits. nullopt when the
// line does not begin with "GET"; throws ParseException when a version is malformed.
std::optional<std::string> parseRequestLine(std::string_view line);

} // namespace plexmill::http
