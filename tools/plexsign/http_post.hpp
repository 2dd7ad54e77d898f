// The smallest HTTP/1.1 client that talks to an RFC 3161 time-stamp authority: one POST over a
// plain TCP connection, closed after the reply.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace plexmill::plexsign {

// Posts `body` to `url` (http://host[:port][/path]; a literal IPv6 address in brackets) and
// returns the body of a 200 reply, whether sent with a length, in chunks or up to the close.
// Raises tnw::util::Exception with a readable message for any other outcome, including a
// reply that does not come within `timeout`.
std::vector<std::uint8_t> httpPost(const std::string& url,
                                   const std::string& contentType,
                                   std::span<const std::uint8_t> body,
                                   std::chrono::milliseconds timeout);

} // namespace plexmill::plexsign
