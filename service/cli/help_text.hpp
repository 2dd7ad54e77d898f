// The fixed texts plexmilld prints about itself.
#pragma once

#include <string>

namespace plexmill::cli {

// The help lines followed by one empty line.
std::string helpText();

} // namespace plexmill::cli
