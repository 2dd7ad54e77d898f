#include "service/cli/firewall_commands.hpp"

#include "service/firewall/firewall.hpp"
#include "util/console.hpp"
#include "util/environment.hpp"
#include "util/files.hpp"
#include "util/format.hpp"
#include "util/system_info.hpp"
#include "util/version.hpp"

#include <string>

namespace plexmill::cli {

namespace {

using firewall::Port;
using firewall::Protocol;

void say(const std::string& line) {
    tnw::util::printLine(tnw::util::ConsoleStream::Output, tnw::util::ConsoleColour::Normal, line);
}

void complain(const std::string& line) {
    tnw::util::printLine(tnw::util::ConsoleStream::Error, tnw::util::ConsoleColour::Normal, line);
}

// The second failure line, for a user without the rights to change the firewall.
void complainAboutRights() {
    if (!tnw::util::SystemInfo::isAdministrator()) {
        complain(tnw::util::format("The current '%1' may not have the required permissions. Please "
                                   "login as an administrator.",
                                   tnw::util::userName()));
    }
}

std::string portLine(const Port& port) {
    return tnw::util::format("The port %1 %2 is not enabled.",
                             std::to_string(port.number),
                             port.protocol == Protocol::Tcp ? "TCP" : "UDP");
}

} // namespace

int checkFirewall(const FirewallPorts& ports) {
    auto guard = firewall::openFirewall();
    if (!guard) {
        say("Windows Firewall is not installed.");
        return 0;
    }
    say("Windows Firewall is installed.");
    if (!guard->isReadable() && !tnw::util::SystemInfo::isAdministrator()) {
        // Reading the rules takes the rights that changing them takes: saying "disabled" here
        // would tell an ordinary user something nobody looked at.
        complainAboutRights();
        return 0;
    }
    if (!guard->isEnabled()) {
        say("Windows Firewall is disabled.");
        return 0;
    }
    say("Windows Firewall is enabled.");
    if (!guard->isApplicationAuthorized()) {
        say(tnw::util::format("%1 '%2' is not enabled in Windows Firewall.",
                              tnw::util::kProductName,
                              tnw::util::programPath()));
    }
    for (const Port& port :
         {Port{ports.sessionPort, Protocol::Tcp}, Port{ports.advertisePort, Protocol::Udp}}) {
        if (!guard->isPortOpen(port)) {
            say(portLine(port));
        }
    }
    return 0;
}

int configureFirewall(const FirewallPorts& ports) {
    auto guard = firewall::openFirewall();
    bool failed = !guard;
    if (guard) {
        if (!guard->isApplicationAuthorized()) {
            guard->authorizeApplication();
            failed = !guard->isApplicationAuthorized();
        }
        const std::string product = tnw::util::kProductName;
        const std::pair<Port, std::string> exceptions[] = {
            {Port{ports.sessionPort, Protocol::Tcp}, product + " Session"},
            {Port{ports.advertisePort, Protocol::Udp}, product + " Advertise"},
        };
        for (const auto& [port, name] : exceptions) {
            if (!guard->isPortOpen(port) && !guard->openPort(port, name)) {
                failed = true;
            }
        }
    }
    if (failed) {
        complain(tnw::util::format("Failed to enable %1 service in Windows Firewall.",
                                   tnw::util::kProductName));
        complainAboutRights();
    }
    return 0;
}

} // namespace plexmill::cli
