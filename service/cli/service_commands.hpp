// The service commands of the command line: each one's steps, messages and exit code.
#pragma once

#include "service/cli/command_line.hpp"

#include <string>

namespace plexmill::cli {

// Carries out one of --start, --stop, --pause, --resume, --restart, --reload, --enablehttp,
// --disablehttp, --install [PATH] and --uninstall; returns the exit code.
int runServiceCommand(const CommandLine& line);

// Switches the HTTP status port on or off through the settings value "use http" and restarts
// a running service so that it takes effect. Nothing changes when the value is already so.
void setHttpEnabled(bool enable);

} // namespace plexmill::cli
