#include "service/server/peer_display_name.hpp"

#include "service/server/settings.hpp"
#include "util/inet_address.hpp"
#include "util/name_resolver.hpp"

namespace plexmill::server {

std::string peerDisplayName(std::uint32_t address) {
    std::string dotted = tnw::util::InetAddress(address, 0).addressText();
    std::string name = tnw::util::NameResolver::lookupName(address);
    if (name.empty()) {
        return dotted;
    }
    name = lookupDisplayName(name);
    return name == dotted ? dotted : name + " [" + dotted + "]";
}

std::string peerDisplayName(const std::string& host) {
    return peerDisplayName(tnw::util::NameResolver::lookupAddress(host));
}

} // namespace plexmill::server
