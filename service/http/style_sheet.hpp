// The style sheet of the status page, served as "/style.css" and inlined in the page itself.
#pragma once

#include <string_view>

namespace plexmill::http {

std::string_view styleSheet();

} // namespace plexmill::http
