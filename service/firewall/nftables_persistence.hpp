// Keeping the product's nftables rules across restarts on Debian, where nftables.service loads
// /etc/nftables.conf at boot (a file that usually begins by flushing the whole ruleset). The
// rules live in a file of their own, /etc/nftables.d/quorvex-plexmill.nft, rewritten from the
// running ruleset after every change; /etc/nftables.conf gets one include line at its end,
// once, and is otherwise left as the administrator wrote it. The include names the file by a
// pattern, so that deleting the file never stops the machine's firewall from loading.
//
// The rules file inserts at the head of each chain, because rule handles do not survive a
// restart; its chains are declared with "add", which leaves an existing chain alone, so a chain
// the administrator removed later makes an empty one instead of a failed boot.
#pragma once

#include "service/firewall/nftables_ruleset.hpp"

#include <string>
#include <vector>

namespace plexmill::firewall {

class NftablesPersistence {
public:
    // PLEXMILL_NFTABLES_CONF moves /etc/nftables.conf (and the rules folder beside it).
    NftablesPersistence();

    const std::string& configurationFile() const { return configuration_; }
    const std::string& rulesFile() const { return rules_; }

    // Whether the rule is in the rules file and the rules file is loaded at boot (when the
    // machine has a boot configuration at all).
    bool holds(const NftablesChain& chain, const NftablesRule& rule) const;
    // Writes every rule of the chains whose comment begins with the product name into the
    // rules file, after nft has checked it against the running ruleset, and adds the include
    // line when it is missing. False when a step failed; the running ruleset is not touched.
    bool save(const std::vector<NftablesChain>& chains) const;

private:
    std::string includeLine() const;

    std::string configuration_;
    std::string rules_;
};

} // namespace plexmill::firewall
