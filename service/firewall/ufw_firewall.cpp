#include "service/firewall/ufw_firewall.hpp"

#include "service/firewall/application_exception.hpp"
#include "service/firewall/firewall_tools.hpp"
#include "util/files.hpp"
#include "util/text_file.hpp"

#include <vector>

namespace plexmill::firewall {

std::string ufwApplicationsFolder() {
    return "/etc/ufw/applications.d";
}

UfwFirewall::UfwFirewall(UfwStatus status) : status_(std::move(status)) {}

const UfwStatus& UfwFirewall::status() {
    if (!status_) {
        auto listing = runTool("ufw", {"status", "verbose"});
        status_ = listing.succeeded() ? parseUfwStatus(listing.output) : UfwStatus{};
    }
    return *status_;
}

bool UfwFirewall::change(const std::vector<std::string>& arguments) {
    status_.reset();
    return runTool("ufw", arguments).succeeded();
}

bool UfwFirewall::isApplicationAuthorized() {
    return status().letsApplication(kApplicationName,
                                    {kApplicationPorts.begin(), kApplicationPorts.end()});
}

bool UfwFirewall::authorizeApplication() {
    if (!runTool("ufw", {"app", "info", kApplicationName}).succeeded()) {
        // A profile of the same file name that ufw does not accept is the administrator's to
        // mend, not ours to overwrite.
        std::string profile = tnw::util::joinPath(ufwApplicationsFolder(), kUfwProfileFileName);
        if (tnw::util::exists(profile) ||
            tnw::util::replaceFile(profile, ufwApplicationProfile()) != 0) {
            return false;
        }
    }
    return change({"allow", kApplicationName});
}

bool UfwFirewall::isPortOpen(const Port& port) {
    return status().lets(port);
}

bool UfwFirewall::openPort(const Port& port, const std::string& name) {
    return change({"allow",
                   std::to_string(port.number) + "/" + protocolWord(port.protocol),
                   "comment",
                   name});
}

} // namespace plexmill::firewall
