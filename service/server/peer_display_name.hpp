// How a server or a peer is named for people: "cam-07 [192.168.1.27]", or the dotted address
// alone when no other name is known.
#pragma once

#include <cstdint>
#include <string>

namespace plexmill::server {

// The address resolved back to a host name (bounded wait, cached), passed through the name
// lookup table.
std::string peerDisplayName(std::uint32_t address);

// The same for an address or host name given as text.
std::string peerDisplayName(const std::string& host);

} // namespace plexmill::server
