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

// The same from the names already known (NameResolver::lookupNames fetches them), without
// waiting for a lookup: the dotted address when none is known yet.
std::string knownPeerDisplayName(std::uint32_t address);

} // namespace plexmill::server
