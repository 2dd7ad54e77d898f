// Finding servers on the local network by a broadcast request.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace plexmill::cli {

struct DiscoveryLimits {
    std::uint64_t quiet = 5'000'000;         // no reply yet: give up after this
    std::uint64_t quietAfterReply = 250'000; // after a reply: stop when this passes without one
    std::uint64_t softEnd = 15'000'000;      // stop here once anything answered
    std::uint64_t hardEnd = 40'000'000;      // stop here whatever happens
    std::size_t maximumReplies = 5;
};

// Broadcasts a request-advertise datagram and returns the addresses (host order) of the
// servers that answered, in the order of their first reply, without duplicates.
std::vector<std::uint32_t> discoverServers(const DiscoveryLimits& limits = {});

} // namespace plexmill::cli
