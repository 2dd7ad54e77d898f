// The names people see for the platform codes servers report.
#pragma once

#include <string>

namespace plexmill::protocol {

// "WIN32" -> "Windows", "LINUX" -> "Linux", ...; anything else "Unknown". Exact, case-sensitive.
std::string platformDisplayName(const std::string& code);

} // namespace plexmill::protocol
