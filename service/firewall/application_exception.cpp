#include "service/firewall/application_exception.hpp"

#include <string_view>

namespace plexmill::firewall {

namespace {

struct EmbeddedResource {
    std::string_view name;
    std::string_view bytes;
    std::string_view contentType;
};

// Generated from the list in service/firewall/CMakeLists.txt: the firewalld definition first,
// the ufw profile second.
#include "generated/firewall_definitions.inc"

} // namespace

std::string_view firewalldServiceDefinition() {
    return kEmbeddedResources[0].bytes;
}

std::string_view ufwApplicationProfile() {
    return kEmbeddedResources[1].bytes;
}

} // namespace plexmill::firewall
