// The service under systemd: where systemd runs the machine, the installed service also has a
// unit, /etc/systemd/system/quorvexpmd.service, and systemd starts and stops it.
//
// PLEXMILL_SYSTEMD_ROOT moves the root that holds /etc/systemd and /run/systemd (tests, images
// being prepared). A unit under another root is only written and enabled, as
// `systemctl --root` does; the systemd of that root is not running here to start it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace plexmill::cli {

// The unit for the program at `program` (an absolute path), or nothing when the path holds
// characters a unit file cannot carry (control characters).
std::optional<std::string> renderServiceUnit(const std::string& program);

// $PLEXMILL_SYSTEMD_ROOT, or "/".
std::string systemdRoot();
// The unit file under the root.
std::string serviceUnitPath();
// True when systemd manages the root's machine: it has /run/systemd/system.
bool systemdRunsMachine();
// True when start, stop and restart go through systemctl: systemd runs this very machine and
// the service has its unit.
bool systemdDrivesService();

// Writes the unit and enables it; false, with nothing left behind, when either fails.
bool installServiceUnit(const std::string& program);
// Disables the unit and removes it; true when no unit is left.
bool removeServiceUnit();

// The systemctl command line for the root: `systemctl --quiet [--root=DIR] ARGUMENTS`.
std::vector<std::string> systemctlCommand(const std::vector<std::string>& arguments);

} // namespace plexmill::cli
