#include "service/server/peer_display_name.hpp"

#include "service/server/settings.hpp"
#include "util/inet_address.hpp"
#include "util/name_resolver.hpp"

namespace plexmill::server {

namespace {

std::string displayName(std::uint32_t address, std::string name) {
    std::string dotted = tnw::util::InetAddress(address, 0).addressText();
    if (name.empty()) {
        return dotted;
    }
    name = lookupDisplayName(name);
    return name == dotted ? dotted : name + " [" + dotted + "]";
}

} // namespace

std::string peerDisplayName(std::uint32_t address) {
    return displayName(address, tnw::util::NameResolver::lookupName(address));
}

std::string knownPeerDisplayName(std::uint32_t address) {
    return displayName(address, tnw::util::NameResolver::knownName(address).value_or(""));
}

std::string peerDisplayName(const std::string& host) {
    return peerDisplayName(tnw::util::NameResolver::lookupAddress(host));
}

} // namespace plexmill::server
