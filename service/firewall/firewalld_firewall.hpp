// firewalld, asked through firewall-cmd: the exception is the service quorvexpmd in the default
// zone, and a port is open when the zone lists it or one of the zone's services carries it.
#pragma once

#include "service/firewall/firewall.hpp"
#include "util/command.hpp"

#include <map>
#include <string>
#include <vector>

namespace plexmill::firewall {

// "7387/tcp 7000-7100/udp" as firewall-cmd lists ports; words that are not ports are skipped.
std::vector<PortRange> parseFirewalldPorts(const std::string& words);

class FirewalldFirewall : public Firewall {
public:
    explicit FirewalldFirewall(std::string zone);

    bool isEnabled() override { return true; }
    bool isApplicationAuthorized() override;
    bool authorizeApplication() override;
    bool isPortOpen(const Port& port) override;
    bool openPort(const Port& port, const std::string& name) override;

private:
    // firewalld keeps two configurations: what runs now, and what it starts with.
    enum class Scope { Runtime, Permanent };

    struct ZoneView {
        std::vector<std::string> services;
        std::vector<PortRange> ports;
    };

    tnw::util::CommandResult ask(Scope scope, std::vector<std::string> arguments);
    const ZoneView& zone(Scope scope);
    // The ports a service carries; nullopt when the scope does not know the service.
    const std::optional<std::vector<PortRange>>& servicePorts(Scope scope, const std::string& name);
    bool isOpenIn(Scope scope, const Port& port);
    bool hasApplicationIn(Scope scope);
    bool change(Scope scope, std::vector<std::string> arguments);

    std::string zone_;
    std::map<Scope, ZoneView> zones_;
    std::map<std::pair<Scope, std::string>, std::optional<std::vector<PortRange>>> services_;
};

} // namespace plexmill::firewall
