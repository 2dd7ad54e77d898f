// Addresses in the abstract Unix-domain namespace: names without a file, scoped to the network
// namespace, gone when the last socket bound to them closes.
#pragma once

#include <string>
#include <sys/socket.h>
#include <sys/un.h>

namespace tnw::util {

// Fills `address` with `name` as an abstract name (a leading NUL byte, no terminator) and
// returns the length to pass to bind or connect. Longer names are cut to what the address
// can hold.
socklen_t abstractSocketAddress(const std::string& name, sockaddr_un& address);

} // namespace tnw::util
