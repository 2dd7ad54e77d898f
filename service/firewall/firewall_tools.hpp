// Finding and running the firewall tools. They live in sbin folders, which ordinary users'
// PATH often lacks, so those are searched after PATH; a PATH that names an sbin folder is taken
// as the whole truth, which lets tests put tools of their own in charge.
#pragma once

#include "util/command.hpp"

#include <string>
#include <vector>

namespace plexmill::firewall {

// The tool's file; empty when it is not installed.
std::string locateTool(const std::string& name);

// Runs the tool with the arguments; a tool that is not installed did not start.
tnw::util::CommandResult runTool(const std::string& name,
                                 const std::vector<std::string>& arguments,
                                 const std::string& input = {});

} // namespace plexmill::firewall
