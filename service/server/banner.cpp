#include "service/server/banner.hpp"

#include "util/version.hpp"

namespace plexmill::server {

std::string versionLine() { return std::string(tnw::util::kProductName) + " " + tnw::util::versionText(); }

std::string bannerText() {
    return versionLine() + "\n" + "Copyright (c) Quorvex, Inc. All rights reserved.\n" +
           std::string(tnw::util::kProductWebAddress) + "\n\n";
}

} // namespace plexmill::server
