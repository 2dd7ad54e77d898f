#include "service/firewall/firewall_tools.hpp"

#include "util/environment.hpp"
#include "util/files.hpp"
#include "util/program_search.hpp"

namespace plexmill::firewall {

std::string locateTool(const std::string& name) {
    std::string found = tnw::util::findProgramOnPath(name);
    if (!found.empty()) {
        return found;
    }
    std::string path = ":" + tnw::util::getEnvironment("PATH") + ":";
    if (path.find("/sbin:") != std::string::npos) {
        return {};
    }
    for (const char* folder : {"/usr/sbin/", "/sbin/"}) {
        std::string candidate = folder + name;
        if (tnw::util::exists(candidate) && !tnw::util::isFolder(candidate)) {
            return candidate;
        }
    }
    return {};
}

tnw::util::CommandResult runTool(const std::string& name,
                                 const std::vector<std::string>& arguments,
                                 const std::string& input) {
    std::string tool = locateTool(name);
    if (tool.empty()) {
        return {};
    }
    std::vector<std::string> command = {tool};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return tnw::util::runCommand(command, input);
}

} // namespace plexmill::firewall
