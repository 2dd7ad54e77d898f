#include "service/firewall/firewalld_firewall.hpp"

#include "service/firewall/application_exception.hpp"
#include "service/firewall/firewall_tools.hpp"
#include "service/firewall/words.hpp"
#include "util/text_file.hpp"

#include <sstream>

namespace plexmill::firewall {

namespace {

// The value of "  name: value" in firewall-cmd's listings; empty when the line is missing.
std::string listedValue(const std::string& listing, const std::string& name) {
    std::istringstream lines(listing);
    std::string prefix = name + ":";
    for (std::string line; std::getline(lines, line);) {
        std::size_t start = line.find_first_not_of(' ');
        if (start != std::string::npos && line.compare(start, prefix.size(), prefix) == 0) {
            return line.substr(start + prefix.size());
        }
    }
    return {};
}

std::string portWord(const Port& port) {
    return std::to_string(port.number) + "/" + protocolWord(port.protocol);
}

} // namespace

std::vector<PortRange> parseFirewalldPorts(const std::string& text) {
    std::vector<PortRange> ranges;
    for (const std::string& word : splitWords(text)) {
        std::size_t slash = word.find('/');
        if (slash == std::string::npos) {
            continue;
        }
        auto protocol = protocolOfWord(word.substr(slash + 1));
        std::string span = word.substr(0, slash);
        std::size_t dash = span.find('-');
        auto first = parsePortNumber(span.substr(0, dash));
        auto last = dash == std::string::npos ? first : parsePortNumber(span.substr(dash + 1));
        if (protocol && first && last && *first <= *last) {
            ranges.push_back({*first, *last, protocol});
        }
    }
    return ranges;
}

FirewalldFirewall::FirewalldFirewall(std::string zone) : zone_(std::move(zone)) {}

tnw::util::CommandResult FirewalldFirewall::ask(Scope scope, std::vector<std::string> arguments) {
    if (scope == Scope::Permanent) {
        arguments.insert(arguments.begin(), "--permanent");
    }
    return runTool("firewall-cmd", arguments);
}

bool FirewalldFirewall::change(Scope scope, std::vector<std::string> arguments) {
    zones_.clear();
    services_.clear();
    return ask(scope, std::move(arguments)).succeeded();
}

const FirewalldFirewall::ZoneView& FirewalldFirewall::zone(Scope scope) {
    auto found = zones_.find(scope);
    if (found != zones_.end()) {
        return found->second;
    }
    ZoneView view;
    auto listing = ask(scope, {"--zone=" + zone_, "--list-all"});
    if (listing.succeeded()) {
        view.services = splitWords(listedValue(listing.output, "services"));
        view.ports = parseFirewalldPorts(listedValue(listing.output, "ports"));
    }
    return zones_[scope] = std::move(view);
}

const std::optional<std::vector<PortRange>>&
FirewalldFirewall::servicePorts(Scope scope, const std::string& name) {
    auto key = std::make_pair(scope, name);
    auto found = services_.find(key);
    if (found != services_.end()) {
        return found->second;
    }
    auto info = ask(scope, {"--info-service=" + name});
    std::optional<std::vector<PortRange>> ports;
    if (info.succeeded()) {
        ports = parseFirewalldPorts(listedValue(info.output, "ports"));
    }
    return services_[key] = std::move(ports);
}

bool FirewalldFirewall::isOpenIn(Scope scope, const Port& port) {
    const ZoneView& view = zone(scope);
    for (const PortRange& range : view.ports) {
        if (range.covers(port)) {
            return true;
        }
    }
    for (const std::string& service : view.services) {
        const auto& ports = servicePorts(scope, service);
        if (!ports) {
            continue;
        }
        for (const PortRange& range : *ports) {
            if (range.covers(port)) {
                return true;
            }
        }
    }
    return false;
}

bool FirewalldFirewall::hasApplicationIn(Scope scope) {
    const ZoneView& view = zone(scope);
    for (const std::string& service : view.services) {
        if (service == kFirewalldServiceName) {
            return true;
        }
    }
    return false;
}

bool FirewalldFirewall::isApplicationAuthorized() {
    if (!hasApplicationIn(Scope::Permanent)) {
        return false;
    }
    if (hasApplicationIn(Scope::Runtime)) {
        return true;
    }
    // A running firewalld learns new service definitions only when it reloads, and a reload
    // would drop every change the administrator made to the running firewall alone. Until its
    // next reload the service's ports stand in for it in the running zone.
    if (servicePorts(Scope::Runtime, kFirewalldServiceName)) {
        return false;
    }
    for (const Port& port : kApplicationPorts) {
        if (!isOpenIn(Scope::Runtime, port)) {
            return false;
        }
    }
    return true;
}

bool FirewalldFirewall::authorizeApplication() {
    if (!servicePorts(Scope::Permanent, kFirewalldServiceName)) {
        tnw::util::TemporaryFile definition(firewalldServiceDefinition());
        if (definition.path().empty() ||
            !change(Scope::Permanent,
                    {"--new-service-from-file=" + definition.path(),
                     std::string("--name=") + kFirewalldServiceName})) {
            return false;
        }
    }
    std::string addService = std::string("--add-service=") + kFirewalldServiceName;
    if (!hasApplicationIn(Scope::Permanent) &&
        !change(Scope::Permanent, {"--zone=" + zone_, addService})) {
        return false;
    }
    if (hasApplicationIn(Scope::Runtime)) {
        return true;
    }
    if (servicePorts(Scope::Runtime, kFirewalldServiceName)) {
        return change(Scope::Runtime, {"--zone=" + zone_, addService});
    }
    for (const Port& port : kApplicationPorts) {
        if (!isOpenIn(Scope::Runtime, port) &&
            !change(Scope::Runtime, {"--zone=" + zone_, "--add-port=" + portWord(port)})) {
            return false;
        }
    }
    return true;
}

bool FirewalldFirewall::isPortOpen(const Port& port) {
    return isOpenIn(Scope::Runtime, port) && isOpenIn(Scope::Permanent, port);
}

bool FirewalldFirewall::openPort(const Port& port, const std::string& /*name*/) {
    // firewalld ports carry no names: the service definition is where the product's name is.
    for (Scope scope : {Scope::Permanent, Scope::Runtime}) {
        if (!isOpenIn(scope, port) &&
            !change(scope, {"--zone=" + zone_, "--add-port=" + portWord(port)})) {
            return false;
        }
    }
    return true;
}

} // namespace plexmill::firewall
