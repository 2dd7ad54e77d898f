// The fixed texts plexmilld prints about itself.
#pragma once

#include <string>

namespace plexmill::cli {

// "Quorvex Plexmill 14.1.0 build 42604"
std::string versionLine();
// Version line, the maker's notice, the web address and an empty line.
std::string bannerText();
// The help lines followed by one empty line.
std::string helpText();

} // namespace plexmill::cli
