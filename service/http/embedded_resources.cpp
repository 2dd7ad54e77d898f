#include "service/http/embedded_resources.hpp"

namespace plexmill::http {
namespace {

// Generated from the resource list in service/http/CMakeLists.txt.
#include "generated/embedded_resource_data.inc"

} // namespace

std::span<const EmbeddedResource> embeddedResources() {
    return kEmbeddedResources;
}

} // namespace plexmill::http
