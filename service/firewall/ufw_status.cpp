#include "service/firewall/ufw_status.hpp"

#include "service/firewall/words.hpp"

#include <sstream>
namespace plexmill::firewall {

namespace {

// "7387/tcp", "9000", "7000:7100/udp", "80,443/tcp"; nullopt for anything else.
std::optional<std::vector<PortRange>> parsePorts(const std::string& word) {
    std::string list = word;
    std::optional<Protocol> protocol;
    std::size_t slash = word.find('/');
    if (slash != std::string::npos) {
        protocol = protocolOfWord(word.substr(slash + 1));
        if (!protocol) {
            return std::nullopt;
        }
        list = word.substr(0, slash);
    }
    std::vector<PortRange> ranges;
    std::istringstream items(list);
    for (std::string item; std::getline(items, item, ',');) {
        std::size_t colon = item.find(':');
        auto first = parsePortNumber(item.substr(0, colon));
        auto last = colon == std::string::npos ? first : parsePortNumber(item.substr(colon + 1));
        if (!first || !last || *first > *last) {
            return std::nullopt;
        }
        ranges.push_back({*first, *last, protocol});
    }
    if (ranges.empty()) {
        return std::nullopt;
    }
    return ranges;
}

bool isAction(const std::string& word) {
    return word == "ALLOW" || word == "DENY" || word == "REJECT" || word == "LIMIT";
}

// One line of the rule table: To, Action, From and an optional "# comment". Columns are
// padded with blanks but a long "To" pushes the action along, so the action word is what
// splits the line.
std::optional<UfwRule> parseRule(const std::string& line) {
    std::string comment;
    std::string body = line;
    std::size_t hash = line.find(" # ");
    if (hash != std::string::npos) {
        comment = line.substr(hash + 3);
        body = line.substr(0, hash);
    }
    std::vector<std::string> list = splitWords(body);
    std::size_t action = 0;
    while (action < list.size() && !isAction(list[action])) {
        ++action;
    }
    if (action == 0 || action == list.size()) {
        return std::nullopt;
    }
    UfwRule rule;
    rule.comment = comment;
    rule.action = list[action];
    std::size_t from = action + 1;
    if (from < list.size() && (list[from] == "IN" || list[from] == "OUT" || list[from] == "FWD")) {
        rule.action += " " + list[from];
        ++from;
    }
    rule.fromAnywhere =
        from < list.size() && list[from] == "Anywhere" &&
        (from + 1 == list.size() || (from + 2 == list.size() && list[from + 1] == "(v6)"));
    if (auto ports = parsePorts(list[0])) {
        rule.ports = *ports;
    }
    // What follows the ports on the "To" side: "(v6)", "(Profile)", "(Profile (v6))", or
    // restrictions such as "on eth0".
    std::string rest;
    for (std::size_t index = 1; index < action; ++index) {
        rest += (index > 1 ? " " : "") + list[index];
    }
    const std::string v6 = " (v6)";
    if (rest == "(v6)") {
        rest.clear();
    }
    if (rest.size() >= 2 && rest.front() == '(' && rest.back() == ')') {
        std::string name = rest.substr(1, rest.size() - 2);
        if (name.size() > v6.size() && name.compare(name.size() - v6.size(), v6.size(), v6) == 0) {
            name.resize(name.size() - v6.size());
        }
        rule.application = name;
    } else if (!rest.empty() || rule.ports.empty()) {
        rule.restricted = true;
    }
    return rule;
}

} // namespace

UfwStatus parseUfwStatus(const std::string& text) {
    UfwStatus status;
    std::istringstream lines(text);
    bool inTable = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Status:", 0) == 0) {
            status.active = line == "Status: active";
        } else if (line.rfind("Default:", 0) == 0) {
            status.incomingAllowed = line.find("allow (incoming)") != std::string::npos;
        } else if (line.rfind("--", 0) == 0) {
            inTable = true;
        } else if (inTable) {
            if (auto rule = parseRule(line)) {
                status.rules.push_back(*rule);
            }
        }
    }
    return status;
}

bool UfwStatus::lets(const Port& port) const {
    if (incomingAllowed) {
        return true;
    }
    for (const UfwRule& rule : rules) {
        if (rule.action != "ALLOW IN" || !rule.fromAnywhere || rule.restricted) {
            continue;
        }
        for (const PortRange& range : rule.ports) {
            if (range.covers(port)) {
                return true;
            }
        }
    }
    return false;
}

bool UfwStatus::letsApplication(const std::string& name, const std::vector<Port>& ports) const {
    for (const Port& port : ports) {
        bool found = false;
        for (const UfwRule& rule : rules) {
            if (rule.application != name || rule.action != "ALLOW IN" || !rule.fromAnywhere) {
                continue;
            }
            for (const PortRange& range : rule.ports) {
                found = found || range.covers(port);
            }
        }
        if (!found) {
            return false;
        }
    }
    return true;
}

} // namespace plexmill::firewall
