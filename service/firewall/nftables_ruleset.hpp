// The part of an nftables ruleset that decides what reaches this machine's services: the base
// chains of the IP families hooked at input, with the rules that open ports in them.
#pragma once

#include "service/firewall/firewall.hpp"
#include "util/json.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plexmill::firewall {

struct NftablesRule {
    std::int64_t handle = 0;
    std::string comment;
    // The ports the rule accepts when it is nothing but "<protocol> dport <ports> accept"
    // (counters allowed); empty for every other rule.
    std::vector<PortRange> accepts;
    // Its verdict is drop or reject.
    bool drops = false;
};

struct NftablesChain {
    std::string family; // ip, ip6 or inet
    std::string table;
    std::string name;
    bool dropPolicy = false;
    std::vector<NftablesRule> rules;

    // Whether traffic that no rule accepts ends dropped here: the policy drops, or the last
    // rule drops or rejects.
    bool drops() const { return dropPolicy || finalDrop() != nullptr; }
    // The last rule when it drops or rejects.
    const NftablesRule* finalDrop() const;
    // The rules that accept the port.
    std::vector<const NftablesRule*> accepting(const Port& port) const;
};

// The input-hook filter base chains of `nft -j list ruleset`, in the order listed. Anything
// that is not understood is left out; a document that is no nft listing gives none.
std::vector<NftablesChain> parseInputChains(const tnw::util::JsonValue& listing);

// The nft JSON command that puts "<protocol> dport <port> accept comment <comment>" into the
// chain: just before its final drop, or at its end when only the policy drops.
std::string
acceptRuleCommand(const NftablesChain& chain, const Port& port, const std::string& comment);

} // namespace plexmill::firewall
