#include "service/firewall/nftables_ruleset.hpp"

namespace plexmill::firewall {

namespace {

using tnw::util::jsonQuote;
using tnw::util::JsonValue;

std::optional<std::uint16_t> portValue(const JsonValue& value) {
    auto number = value.integer();
    if (!number || *number < 0 || *number > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*number);
}

// A port, a range {"range": [a, b]} or a set {"set": [...]} of them, as the right side of a
// dport match.
bool addPorts(const JsonValue& value, Protocol protocol, std::vector<PortRange>& into) {
    if (auto port = portValue(value)) {
        into.push_back({*port, *port, protocol});
        return true;
    }
    if (value.has("range")) {
        const auto& ends = value["range"].array();
        auto first = ends.size() == 2 ? portValue(ends[0]) : std::nullopt;
        auto last = ends.size() == 2 ? portValue(ends[1]) : std::nullopt;
        if (!first || !last || *first > *last) {
            return false;
        }
        into.push_back({*first, *last, protocol});
        return true;
    }
    if (value.has("set")) {
        for (const JsonValue& member : value["set"].array()) {
            if (!addPorts(member, protocol, into)) {
                return false;
            }
        }
        return true;
    }
    return false;
}

// The ports of "<tcp|udp> dport <ports> accept" with nothing else but counters.
std::vector<PortRange> acceptedPorts(const JsonValue& expressions) {
    std::vector<PortRange> ports;
    bool matched = false;
    bool accepted = false;
    for (const JsonValue& expression : expressions.array()) {
        if (expression.has("counter")) {
            continue;
        }
        if (expression.has("accept") && !accepted) {
            accepted = true;
            continue;
        }
        const JsonValue& match = expression["match"];
        const JsonValue& payload = match["left"]["payload"];
        auto protocol = protocolOfWord(payload["protocol"].string());
        std::string op = match["op"].string();
        if (matched || accepted || !protocol || payload["field"].string() != "dport" ||
            (op != "==" && op != "in") || !addPorts(match["right"], *protocol, ports)) {
            return {};
        }
        matched = true;
    }
    return matched && accepted ? ports : std::vector<PortRange>{};
}

bool dropsOrRejects(const JsonValue& expressions) {
    for (const JsonValue& expression : expressions.array()) {
        if (expression.has("drop") || expression.has("reject")) {
            return true;
        }
    }
    return false;
}

bool isIpFamily(const std::string& family) {
    return family == "ip" || family == "ip6" || family == "inet";
}

} // namespace

const NftablesRule* NftablesChain::finalDrop() const {
    return !rules.empty() && rules.back().drops ? &rules.back() : nullptr;
}

std::vector<const NftablesRule*> NftablesChain::accepting(const Port& port) const {
    std::vector<const NftablesRule*> found;
    for (const NftablesRule& rule : rules) {
        for (const PortRange& range : rule.accepts) {
            if (range.covers(port)) {
                found.push_back(&rule);
                break;
            }
        }
    }
    return found;
}

std::vector<NftablesChain> parseInputChains(const JsonValue& listing) {
    std::vector<NftablesChain> chains;
    for (const JsonValue& item : listing["nftables"].array()) {
        const JsonValue& chain = item["chain"];
        if (chain.isObject() && chain["hook"].string() == "input" &&
            chain["type"].string() == "filter" && isIpFamily(chain["family"].string())) {
            chains.push_back({chain["family"].string(),
                              chain["table"].string(),
                              chain["name"].string(),
                              chain["policy"].string() == "drop",
                              {}});
            continue;
        }
        const JsonValue& rule = item["rule"];
        if (!rule.isObject()) {
            continue;
        }
        for (NftablesChain& owner : chains) {
            if (owner.family == rule["family"].string() && owner.table == rule["table"].string() &&
                owner.name == rule["chain"].string()) {
                owner.rules.push_back({rule["handle"].integer().value_or(0),
                                       rule["comment"].string(),
                                       acceptedPorts(rule["expr"]),
                                       dropsOrRejects(rule["expr"])});
                break;
            }
        }
    }
    return chains;
}

std::string
acceptRuleCommand(const NftablesChain& chain, const Port& port, const std::string& comment) {
    const NftablesRule* drop = chain.finalDrop();
    std::string rule = "{\"family\": " + jsonQuote(chain.family) +
                       ", \"table\": " + jsonQuote(chain.table) +
                       ", \"chain\": " + jsonQuote(chain.name);
    if (drop != nullptr) {
        rule += ", \"handle\": " + std::to_string(drop->handle);
    }
    rule += ", \"expr\": [{\"match\": {\"op\": \"==\", \"left\": {\"payload\": {\"protocol\": " +
            jsonQuote(protocolWord(port.protocol)) +
            ", \"field\": \"dport\"}}, \"right\": " + std::to_string(port.number) +
            "}}, {\"accept\": null}], \"comment\": " + jsonQuote(comment) + "}";
    return std::string("{\"") + (drop != nullptr ? "insert" : "add") + "\": {\"rule\": " + rule +
           "}}";
}

} // namespace plexmill::firewall
