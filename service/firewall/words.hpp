// Pieces of the firewall tools' printed listings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plexmill::firewall {

// The blank-separated words of the text.
std::vector<std::string> splitWords(const std::string& text);

// A port number written in decimal digits only, 0 to 65535.
std::optional<std::uint16_t> parsePortNumber(const std::string& text);

} // namespace plexmill::firewall
