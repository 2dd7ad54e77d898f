// One POST to an RFC 3161 time-stamp authority, through libcurl: http and https, the proxy
// that the usual variables name (http_proxy, https_proxy, no_proxy), and redirects.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace plexmill::plexsign {

// Posts `body` to `url` (http:// or https://host[:port][/path]; a literal IPv6 address in
// brackets) and returns the body of the final 200 reply. Redirects are followed, a few at
// most and only to http or https; a 301 or 302 repeats the POST, as authorities that moved
// expect. https trusts the system's certificates, or those that SSL_CERT_FILE and
// SSL_CERT_DIR name, as plexmilld does when it checks a time stamp. Raises
// tnw::util::Exception with a readable message for any other outcome, including a reply that
// does not come within `timeout`.
std::vector<std::uint8_t> httpPost(const std::string& url,
                                   const std::string& contentType,
                                   std::span<const std::uint8_t> body,
                                   std::chrono::milliseconds timeout);

} // namespace plexmill::plexsign
