#include "service/firewall/nftables_ruleset.hpp"

#include <gtest/gtest.h>

namespace plexmill::firewall {
namespace {

using tnw::util::JsonValue;

// nft -j list ruleset of nft 1.0.6, trimmed: an inet input chain ending in a counted drop, an
// ip chain with a drop policy, an output chain and a netdev chain that do not guard input.
const char kListing[] = R"({"nftables": [
 {"metainfo": {"version": "1.0.6", "release_name": "Lester Gooch #5", "json_schema_version": 1}},
 {"table": {"family": "inet", "name": "filter", "handle": 1}},
 {"chain": {"family": "inet", "table": "filter", "name": "input", "handle": 1, "type": "filter", "hook": "input", "prio": 0, "policy": "accept"}},
 {"chain": {"family": "inet", "table": "filter", "name": "output", "handle": 2, "type": "filter", "hook": "output", "prio": 0, "policy": "drop"}},
 {"rule": {"family": "inet", "table": "filter", "chain": "input", "handle": 3, "expr": [{"match": {"op": "in", "left": {"ct": {"key": "state"}}, "right": ["established", "related"]}}, {"accept": null}]}},
 {"rule": {"family": "inet", "table": "filter", "chain": "input", "handle": 4, "expr": [{"match": {"op": "==", "left": {"payload": {"protocol": "tcp", "field": "dport"}}, "right": 22}}, {"accept": null}]}},
 {"rule": {"family": "inet", "table": "filter", "chain": "input", "handle": 5, "comment": "Quorvex Plexmill", "expr": [{"match": {"op": "==", "left": {"payload": {"protocol": "udp", "field": "dport"}}, "right": {"set": [7388, {"range": [9000, 9010]}]}}}, {"counter": {"packets": 0, "bytes": 0}}, {"accept": null}]}},
 {"rule": {"family": "inet", "table": "filter", "chain": "input", "handle": 6, "expr": [{"match": {"op": "==", "left": {"meta": {"key": "iif"}}, "right": "eth0"}}, {"match": {"op": "==", "left": {"payload": {"protocol": "tcp", "field": "dport"}}, "right": 80}}, {"accept": null}]}},
 {"rule": {"family": "inet", "table": "filter", "chain": "input", "handle": 7, "expr": [{"counter": {"packets": 3, "bytes": 180}}, {"drop": null}]}},
 {"table": {"family": "ip", "name": "legacy", "handle": 2}},
 {"chain": {"family": "ip", "table": "legacy", "name": "INPUT", "handle": 1, "type": "filter", "hook": "input", "prio": 0, "policy": "drop"}},
 {"rule": {"family": "ip", "table": "legacy", "chain": "INPUT", "handle": 2, "expr": [{"match": {"op": "==", "left": {"payload": {"protocol": "tcp", "field": "dport"}}, "right": {"range": [7000, 7999]}}}, {"accept": null}]}},
 {"table": {"family": "netdev", "name": "edge", "handle": 3}},
 {"chain": {"family": "netdev", "table": "edge", "name": "ingress", "handle": 1, "type": "filter", "hook": "ingress", "prio": 0, "policy": "drop"}}
]})";

TEST(NftablesRuleset, FindsTheChainsThatGuardInput) {
    auto chains = parseInputChains(JsonValue::parse(kListing));
    ASSERT_EQ(chains.size(), 2U);
    const NftablesChain& inet = chains[0];
    EXPECT_EQ(inet.family + " " + inet.table + " " + inet.name, "inet filter input");
    EXPECT_FALSE(inet.dropPolicy);
    EXPECT_TRUE(inet.drops());
    ASSERT_NE(inet.finalDrop(), nullptr);
    EXPECT_EQ(inet.finalDrop()->handle, 7);
    ASSERT_EQ(inet.rules.size(), 5U);
    EXPECT_EQ(inet.rules[2].comment, "Quorvex Plexmill");

    const NftablesChain& legacy = chains[1];
    EXPECT_TRUE(legacy.dropPolicy);
    EXPECT_EQ(legacy.finalDrop(), nullptr);

    const struct {
        std::size_t chain;
        Port port;
        std::size_t accepting;
    } cases[] = {
        {0, {22, Protocol::Tcp}, 1},
        {0, {22, Protocol::Udp}, 0},
        {0, {7388, Protocol::Udp}, 1},
        {0, {9005, Protocol::Udp}, 1},
        {0, {9011, Protocol::Udp}, 0},
        {0, {80, Protocol::Tcp}, 0},
        {1, {7387, Protocol::Tcp}, 1},
        {1, {8000, Protocol::Tcp}, 0},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(std::to_string(item.chain) + ":" + std::to_string(item.port.number));
        EXPECT_EQ(chains[item.chain].accepting(item.port).size(), item.accepting);
    }
}

TEST(NftablesRuleset, SomethingElseThanAListingHasNoChains) {
    EXPECT_TRUE(parseInputChains(JsonValue::parse("[1, 2]")).empty());
    EXPECT_TRUE(parseInputChains(JsonValue::parse(R"({"nftables": {"chain": 1}})")).empty());
}

TEST(NftablesRuleset, RulesGoBeforeTheDropOrAtTheEnd) {
    auto chains = parseInputChains(JsonValue::parse(kListing));
    EXPECT_EQ(
        acceptRuleCommand(chains[0], {7387, Protocol::Tcp}, "Quorvex Plexmill"),
        R"({"insert": {"rule": {"family": "inet", "table": "filter", "chain": "input", "handle": 7, )"
        R"("expr": [{"match": {"op": "==", "left": {"payload": {"protocol": "tcp", "field": "dport"}}, )"
        R"("right": 7387}}, {"accept": null}], "comment": "Quorvex Plexmill"}}})");
    EXPECT_EQ(
        acceptRuleCommand(chains[1], {8001, Protocol::Udp}, "Quorvex \"Plexmill\" Advertise"),
        R"({"add": {"rule": {"family": "ip", "table": "legacy", "chain": "INPUT", )"
        R"("expr": [{"match": {"op": "==", "left": {"payload": {"protocol": "udp", "field": "dport"}}, )"
        R"("right": 8001}}, {"accept": null}], "comment": "Quorvex \"Plexmill\" Advertise"}}})");
}

} // namespace
} // namespace plexmill::firewall
