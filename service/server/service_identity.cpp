#include "service/server/service_identity.hpp"

#include "service/protocol/namespaces.hpp"
#include "util/version.hpp"

namespace plexmill::server {

std::string serviceDescription() {
    return std::string("Plexmill by Quorvex, Inc. - ") + tnw::util::kProductWebAddress;
}

std::string instanceName() {
    return "Global\\" + std::string(protocol::kCurrentNamespace);
}

std::string serviceControlName() {
    return instanceName() + "/service";
}

} // namespace plexmill::server
