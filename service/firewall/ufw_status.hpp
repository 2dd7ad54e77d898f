// What `ufw status verbose` says: whether ufw is active, its default for incoming traffic, and
// its rules, with application rules already expanded to their ports.
#pragma once

#include "service/firewall/firewall.hpp"

#include <string>
#include <vector>

namespace plexmill::firewall {

struct UfwRule {
    std::vector<PortRange> ports; // empty when the rule is not about ports
    std::string application;      // the profile the rule came from; empty for a port rule
    std::string action;           // "ALLOW IN", "DENY IN", "ALLOW OUT", ...
    bool fromAnywhere = false;
    bool restricted = false; // limited to an address, an interface or the like on its "To" side
    std::string comment;
};

struct UfwStatus {
    bool active = false;
    bool incomingAllowed = false; // "Default: allow (incoming)"
    std::vector<UfwRule> rules;

    // Whether an incoming rule lets traffic from anywhere reach the port.
    bool lets(const Port& port) const;
    // Whether rules from the profile let all these ports in.
    bool letsApplication(const std::string& name, const std::vector<Port>& ports) const;
};

UfwStatus parseUfwStatus(const std::string& text);

} // namespace plexmill::firewall
