// How the query commands show a server's reply lines to people.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plexmill::cli {

// "Label: value" for an INFO line (without the two leading blanks), or nothing for keys that
// are not shown and values that do not convert. The measured frequency only with --status.
std::optional<std::string> infoLineText(std::string_view key, std::string_view value, bool withFrequency);

// The same for a SESSION_INFO line.
std::optional<std::string> sessionLineText(std::string_view key, std::string_view value);

} // namespace plexmill::cli
