// --checkfirewall and --configfirewall: what the firewall in charge lets through to this
// program's session and discovery ports, and adding what is missing.
#pragma once

#include "service/cli/command_line.hpp"

namespace plexmill::cli {

// Prints whether a firewall is installed and enabled and which of the product's exception and
// ports it lacks. Exit code 0 whatever it finds.
int checkFirewall(const FirewallPorts& ports);

// Adds the missing exception and ports, running and permanent; prints nothing on success, two
// lines on standard error when the firewall refused. Exit code 0 either way.
int configureFirewall(const FirewallPorts& ports);

} // namespace plexmill::cli
