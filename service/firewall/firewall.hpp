// The firewall that guards this machine, whichever of firewalld, ufw and nftables is in charge
// of it, as the --checkfirewall and --configfirewall commands see it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace plexmill::firewall {

enum class Protocol { Tcp, Udp };

// "tcp" or "udp", as the firewall tools write them.
const char* protocolWord(Protocol protocol);
// "tcp" or "udp" in any case; nullopt for anything else.
std::optional<Protocol> protocolOfWord(const std::string& word);

struct Port {
    std::uint16_t number = 0;
    Protocol protocol = Protocol::Tcp;
    friend bool operator==(const Port&, const Port&) = default;
};

// Ports as firewall rules name them: one port or a range, for one protocol or for both.
struct PortRange {
    std::uint16_t first = 0;
    std::uint16_t last = 0;
    std::optional<Protocol> protocol; // nullopt: both
    bool covers(const Port& port) const {
        return port.number >= first && port.number <= last &&
               (!protocol || *protocol == port.protocol);
    }
};

class Firewall {
public:
    virtual ~Firewall() = default;

    // False when the firewall's state could not be read at all (a user without the rights to
    // ask); every answer below is then false too.
    virtual bool isReadable() { return true; }
    // Whether the firewall filters incoming traffic.
    virtual bool isEnabled() = 0;
    // Whether the product's named exception — firewalld's service, ufw's application profile,
    // the product's own nftables rules — lets its ports in, in the running firewall and in
    // the configuration it starts with.
    virtual bool isApplicationAuthorized() = 0;
    // Adds that exception, running and permanent; false when the firewall refused a step.
    virtual bool authorizeApplication() = 0;
    // Whether incoming traffic to the port gets through, by any rule or service.
    virtual bool isPortOpen(const Port& port) = 0;
    // Lets the port in, under `name` where the firewall can name a port; running and
    // permanent. False when the firewall refused a step.
    virtual bool openPort(const Port& port, const std::string& name) = 0;
};

// The firewall in charge: firewalld when it runs, else ufw when it is active, else the
// nftables ruleset of this network namespace. Another of the three that is present but not
// in charge gives a firewall that filters nothing. Null when none of them is installed.
// The tools are found on PATH, and in /usr/sbin and /sbin unless PATH names an sbin folder.
std::unique_ptr<Firewall> openFirewall();

} // namespace plexmill::firewall
