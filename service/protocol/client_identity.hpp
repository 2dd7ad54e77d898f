// What a client may call itself (USER, APPLICATION): letters, digits, blanks, "." and "_".
#pragma once

#include <string>
#include <string_view>

namespace plexmill::protocol {

// The text with every other character dropped: "John Doe-Smith/2" -> "John DoeSmith2".
std::string filterClientIdentity(std::string_view text);

} // namespace plexmill::protocol
