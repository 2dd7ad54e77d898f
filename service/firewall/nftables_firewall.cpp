#include "service/firewall/nftables_firewall.hpp"

#include "service/firewall/application_exception.hpp"
#include "service/firewall/firewall_tools.hpp"
#include "util/exception.hpp"
#include "util/json.hpp"

namespace plexmill::firewall {

NftablesFirewall::NftablesFirewall() {
    load();
}

void NftablesFirewall::load() {
    chains_.clear();
    auto listing = runTool("nft", {"--json", "list", "ruleset"});
    readable_ = listing.succeeded();
    if (!readable_) {
        return;
    }
    try {
        chains_ = parseInputChains(tnw::util::JsonValue::parse(listing.output));
    } catch (const tnw::util::ParseException&) {
        readable_ = false;
    }
}

bool NftablesFirewall::isEnabled() {
    for (const NftablesChain& chain : chains_) {
        if (chain.drops()) {
            return true;
        }
    }
    return false;
}

bool NftablesFirewall::chainLets(const NftablesChain& chain,
                                 const Port& port,
                                 const std::string* comment) const {
    for (const NftablesRule* rule : chain.accepting(port)) {
        bool ours = rule->comment.rfind(kApplicationName, 0) == 0;
        if (comment != nullptr) {
            if (rule->comment == *comment && persistence_.holds(chain, *rule)) {
                return true;
            }
        } else if (!ours || persistence_.holds(chain, *rule)) {
            return true;
        }
    }
    return false;
}

bool NftablesFirewall::lets(const Port& port, const std::string* comment) const {
    if (!readable_) {
        return false;
    }
    for (const NftablesChain& chain : chains_) {
        if (chain.drops() && !chainLets(chain, port, comment)) {
            return false;
        }
    }
    return true;
}

bool NftablesFirewall::isApplicationAuthorized() {
    const std::string name = kApplicationName;
    for (const Port& port : kApplicationPorts) {
        if (!lets(port, &name)) {
            return false;
        }
    }
    return true;
}

bool NftablesFirewall::authorizeApplication() {
    return open({kApplicationPorts.begin(), kApplicationPorts.end()}, kApplicationName, true);
}

bool NftablesFirewall::isPortOpen(const Port& port) {
    return lets(port, nullptr);
}

bool NftablesFirewall::openPort(const Port& port, const std::string& name) {
    return open({port}, name, false);
}

bool NftablesFirewall::open(const std::vector<Port>& ports,
                            const std::string& comment,
                            bool commentMustMatch) {
    if (!readable_) {
        return false;
    }
    std::string commands;
    for (const NftablesChain& chain : chains_) {
        if (!chain.drops()) {
            continue;
        }
        for (const Port& port : ports) {
            bool present = false;
            for (const NftablesRule* rule : chain.accepting(port)) {
                present = present || !commentMustMatch || rule->comment == comment;
            }
            if (!present) {
                commands +=
                    (commands.empty() ? "" : ", ") + acceptRuleCommand(chain, port, comment);
            }
        }
    }
    if (!commands.empty()) {
        auto applied =
            runTool("nft", {"--json", "--file", "-"}, "{\"nftables\": [" + commands + "]}");
        load();
        if (!applied.succeeded()) {
            return false;
        }
    }
    return persistence_.save(chains_);
}

} // namespace plexmill::firewall
