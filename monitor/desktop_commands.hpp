// The programs the tray's actions start: plexmilld beside the monitor with one service option
// (through pkexec, which asks for the administrator's consent, unless the user is root), the
// server in a terminal window, and the service's journal.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace plexmill::monitor {

inline constexpr char kStatusPageAddress[] = "http://localhost:8080";
inline constexpr char kTaskManagerAddress[] = "http://localhost:8080/taskmanager";
// Where syslog writes when the machine keeps no journal.
inline constexpr char kSyslogFile[] = "/var/log/syslog";

// What the commands depend on, so that tests can set it.
struct DesktopEnvironment {
    std::string programFolder; // the monitor's own folder
    bool administrator = false;
    // The path of a program found on PATH; empty when there is none.
    std::function<std::string(const std::string&)> findProgram;
    std::string terminalVariable; // $TERMINAL
};

// This process's environment.
DesktopEnvironment systemDesktopEnvironment();

// A command line: the program first, then its arguments.
using Command = std::vector<std::string>;

// plexmilld from the monitor's folder with one option, e.g. "--start".
Command serviceCommand(const DesktopEnvironment& environment, const std::string& option);
// The server in the foreground, in a terminal window of the user's; empty without a terminal.
Command consoleCommand(const DesktopEnvironment& environment);
// The service's journal in a terminal window; empty without journalctl or a terminal.
Command eventLogCommand(const DesktopEnvironment& environment);

} // namespace plexmill::monitor
