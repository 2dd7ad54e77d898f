// The service control manager's side of the installed service "quorvexpmd": starting,
// stopping, pausing, resuming, asking and removing it. Each operation reports only whether it
// worked.
//
// The record in the machine registry says whether the service is installed; the running
// service answers on its control channel (util/service_control.hpp). Without systemd, starting
// launches the installed program detached, with the service marker, which is what makes it run
// as the service. Where systemd drives the service (systemd_unit.hpp), start and stop go
// through systemctl, so that systemd knows what runs.
//
// Pending states are waited for at most 60 seconds, looking every 500 ms, on the program's
// clock (which tests can move).
#pragma once

#include <string>

namespace plexmill::cli {

bool startService();
bool stopService();
bool pauseService();
bool resumeService();
// True when the service answers and is not stopped.
bool isServiceRunning();
// Sends the reload request (control 128).
bool reloadService();
// Removes the service's record and its systemd unit; false when it was not installed or
// could not be removed.
bool uninstallService();
// Creates or reconfigures the service to run the program at `absoluteProgram`; where systemd
// runs the machine it also gets its unit. False when any of it fails.
bool installService(const std::string& absoluteProgram);

} // namespace plexmill::cli
