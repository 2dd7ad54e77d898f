#include "service/firewall/firewall.hpp"

#include "service/firewall/firewall_tools.hpp"
#include "service/firewall/firewalld_firewall.hpp"
#include "service/firewall/nftables_firewall.hpp"
#include "service/firewall/ufw_firewall.hpp"

namespace plexmill::firewall {

namespace {

// A firewall that is installed but filters nothing: everything is already let in.
class OpenFirewall : public Firewall {
public:
    bool isEnabled() override { return false; }
    bool isApplicationAuthorized() override { return true; }
    bool authorizeApplication() override { return true; }
    bool isPortOpen(const Port&) override { return true; }
    bool openPort(const Port&, const std::string&) override { return true; }
};

} // namespace

const char* protocolWord(Protocol protocol) {
    return protocol == Protocol::Tcp ? "tcp" : "udp";
}

std::optional<Protocol> protocolOfWord(const std::string& word) {
    if (word == "tcp" || word == "TCP") {
        return Protocol::Tcp;
    }
    if (word == "udp" || word == "UDP") {
        return Protocol::Udp;
    }
    return std::nullopt;
}

std::unique_ptr<Firewall> openFirewall() {
    bool firewalld = !locateTool("firewall-cmd").empty();
    bool ufw = !locateTool("ufw").empty();
    bool nft = !locateTool("nft").empty();
    if (firewalld && runTool("firewall-cmd", {"--state"}).succeeded()) {
        auto zone = runTool("firewall-cmd", {"--get-default-zone"});
        std::string name = zone.output.substr(0, zone.output.find('\n'));
        if (zone.succeeded() && !name.empty()) {
            return std::make_unique<FirewalldFirewall>(name);
        }
    }
    if (ufw) {
        auto listing = runTool("ufw", {"status", "verbose"});
        if (listing.succeeded()) {
            UfwStatus status = parseUfwStatus(listing.output);
            if (status.active) {
                return std::make_unique<UfwFirewall>(std::move(status));
            }
        }
    }
    if (nft) {
        return std::make_unique<NftablesFirewall>();
    }
    if (firewalld || ufw) {
        return std::make_unique<OpenFirewall>();
    }
    return nullptr;
}

} // namespace plexmill::firewall
