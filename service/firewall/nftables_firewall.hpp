// The nftables ruleset of this network namespace, read and changed with nft. An accept in a
// table of our own would not stop a drop in the administrator's input chain, so the product's
// rules go into every input chain that drops, just before its drop, with comments that name
// them ("Quorvex Plexmill" for the application's ports, "Quorvex Plexmill Session" and
// "Quorvex Plexmill Advertise" for the ports of this run). Nothing else is flushed or changed.
#pragma once

#include "service/firewall/firewall.hpp"
#include "service/firewall/nftables_persistence.hpp"
#include "service/firewall/nftables_ruleset.hpp"

#include <string>
#include <vector>

namespace plexmill::firewall {

class NftablesFirewall : public Firewall {
public:
    NftablesFirewall();

    bool isReadable() override { return readable_; }
    // An input chain drops what no rule accepts.
    bool isEnabled() override;
    bool isApplicationAuthorized() override;
    bool authorizeApplication() override;
    bool isPortOpen(const Port& port) override;
    bool openPort(const Port& port, const std::string& name) override;

private:
    void load();
    // Whether the chain lets the port in: by a rule of the administrator's, or by a rule of
    // ours (with this exact comment, when one is given) that is also kept for the next boot.
    bool chainLets(const NftablesChain& chain, const Port& port, const std::string* comment) const;
    bool lets(const Port& port, const std::string* comment) const;
    // Adds a rule for every dropping chain that does not let the port in yet, in one
    // transaction, then keeps the product's rules for the next boot.
    bool open(const std::vector<Port>& ports, const std::string& comment, bool commentMustMatch);

    bool readable_ = false;
    std::vector<NftablesChain> chains_;
    NftablesPersistence persistence_;
};

} // namespace plexmill::firewall
