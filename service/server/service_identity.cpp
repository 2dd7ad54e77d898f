#include "service/server/service_identity.hpp"

#include "util/version.hpp"

namespace plexmill::server {

std::string serviceDescription() {
    return std::string("Plexmill by Quorvex, Inc. - ") + tnw::util::kProductWebAddress;
}

} // namespace plexmill::server
