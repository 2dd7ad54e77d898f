// The texts plexmilld prints about itself, in the console and at server start.
#pragma once

#include <string>

namespace plexmill::server {

// "Quorvex Plexmill 14.1.0 build 42604"
std::string versionLine();
// The version line, the maker's notice, the web address and an empty line.
std::string bannerText();

} // namespace plexmill::server
