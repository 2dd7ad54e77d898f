#include "service/protocol/platform_name.hpp"

#include <map>

namespace plexmill::protocol {

std::string platformDisplayName(const std::string& code) {
    static const std::map<std::string, std::string> names = {
        {"WIN32", "Windows"}, {"OSX", "Mac OS X"},  {"LINUX", "Linux"},
        {"CYGWIN", "Windows (Cygwin)"}, {"SOLARIS", "Solaris"}, {"CLOUD", "Cloud"},
    };
    auto found = names.find(code);
    return found == names.end() ? "Unknown" : found->second;
}

} // namespace plexmill::protocol
