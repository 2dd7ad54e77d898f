// The names under which the server is known to the machine: its single-instance name, the
// installed service, its record and event source in the machine registry, and the control
// channel of the running service. Administration commands, the service itself and the tray
// monitor all rely on these; they do not change between versions.
#pragma once

#include <string>

namespace plexmill::server {

inline constexpr char kServiceName[] = "quorvexpmd";
inline constexpr char kServiceDisplayName[] = "Quorvex Plexmill";
// The service record and the event source, under HKEY_LOCAL_MACHINE.
inline constexpr char kServiceKey[] = "System\\CurrentControlSet\\Services\\quorvexpmd";
inline constexpr char kEventSourceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quorvex Plexmill";
// Set, to the service name, only by whatever starts the program as the service: `--start` and
// the systemd unit. Without it a program with no command and no terminal refuses to run.
inline constexpr char kServiceMarkerVariable[] = "PLEXMILL_SERVICE";

// "Plexmill by Quorvex, Inc. - " and the product's web address.
std::string serviceDescription();

} // namespace plexmill::server
