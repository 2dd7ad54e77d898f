#include "service/firewall/nftables_persistence.hpp"

#include "service/firewall/application_exception.hpp"
#include "service/firewall/firewall_tools.hpp"
#include "util/environment.hpp"
#include "util/files.hpp"
#include "util/text_file.hpp"

#include <cctype>
#include <optional>

namespace plexmill::firewall {

namespace {

constexpr char kDefaultConfiguration[] = "/etc/nftables.conf";
constexpr char kRulesFolder[] = "nftables.d";
constexpr char kRulesFileStem[] = "quorvex-plexmill";

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

// nft's script syntax takes table and chain names unquoted; a name outside its plain words
// cannot be written down safely.
bool isPlainName(const std::string& name) {
    if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_')) {
        return false;
    }
    for (char character : name) {
        if (!std::isalnum(static_cast<unsigned char>(character)) && character != '_' &&
            character != '-' && character != '.') {
            return false;
        }
    }
    return true;
}

bool isOurs(const NftablesRule& rule) {
    return rule.comment.rfind(kApplicationName, 0) == 0;
}

std::string chainWords(const NftablesChain& chain) {
    return chain.family + " " + chain.table + " " + chain.name;
}

// The script line that recreates one of our rules; nullopt for a rule that is not one
// "<protocol> dport <port> accept" or names that cannot be written.
std::optional<std::string> ruleLine(const NftablesChain& chain, const NftablesRule& rule) {
    if (!isPlainName(chain.table) || !isPlainName(chain.name) || rule.accepts.size() != 1 ||
        rule.accepts[0].first != rule.accepts[0].last || !rule.accepts[0].protocol ||
        rule.comment.find_first_of("\"\\\n") != std::string::npos) {
        return std::nullopt;
    }
    const PortRange& port = rule.accepts[0];
    return "insert rule " + chainWords(chain) + " " + protocolWord(*port.protocol) + " dport " +
           std::to_string(port.first) + " accept comment \"" + rule.comment + "\"";
}

bool containsLine(const std::string& text, const std::string& line) {
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
        bool starts = at == 0 || text[at - 1] == '\n';
        bool ends = at + line.size() == text.size() || text[at + line.size()] == '\n';
        if (starts && ends) {
            return true;
        }
    }
    return false;
}

} // namespace

NftablesPersistence::NftablesPersistence() {
    configuration_ = tnw::util::getEnvironment("PLEXMILL_NFTABLES_CONF");
    if (configuration_.empty()) {
        configuration_ = kDefaultConfiguration;
    }
    rules_ = tnw::util::joinPath(tnw::util::joinPath(folderOf(configuration_), kRulesFolder),
                                 std::string(kRulesFileStem) + ".nft");
}

std::string NftablesPersistence::includeLine() const {
    return "include \"" +
           tnw::util::joinPath(tnw::util::joinPath(folderOf(configuration_), kRulesFolder),
                               std::string(kRulesFileStem) + "*.nft") +
           "\"";
}

bool NftablesPersistence::holds(const NftablesChain& chain, const NftablesRule& rule) const {
    auto line = ruleLine(chain, rule);
    auto rules = tnw::util::readTextFile(rules_);
    if (!line || !rules || !containsLine(*rules, *line)) {
        return false;
    }
    auto configuration = tnw::util::readTextFile(configuration_);
    return !configuration ? !tnw::util::exists(configuration_)
                          : containsLine(*configuration, includeLine());
}

bool NftablesPersistence::save(const std::vector<NftablesChain>& chains) const {
    std::string script =
        "#!/usr/sbin/nft -f\n"
        "# Quorvex Plexmill: the rules that plexmilld --configfirewall put into this\n"
        "# machine's input chains, loaded at the end of " +
        configuration_ +
        ".\n"
        "# plexmilld rewrites this file; deleting it keeps the rules out at the next boot.\n";
    bool complete = true;
    bool hasRules = false;
    for (const NftablesChain& chain : chains) {
        std::string lines;
        for (const NftablesRule& rule : chain.rules) {
            if (!isOurs(rule)) {
                continue;
            }
            auto line = ruleLine(chain, rule);
            complete = complete && line.has_value();
            if (line) {
                lines += *line + "\n";
            }
        }
        if (!lines.empty()) {
            hasRules = true;
            script += "add table " + chain.family + " " + chain.table + "\n";
            script += "add chain " + chainWords(chain) + "\n" + lines;
        }
    }
    auto existing = tnw::util::readTextFile(rules_);
    if (!existing && !hasRules) {
        return complete;
    }
    if (!existing || *existing != script) {
        tnw::util::TemporaryFile candidate(script);
        if (candidate.path().empty() ||
            !runTool("nft", {"--check", "--file", candidate.path()}).succeeded() ||
            tnw::util::createFolders(folderOf(rules_)) != 0 ||
            tnw::util::replaceFile(rules_, script) != 0) {
            return false;
        }
    }
    auto configuration = tnw::util::readTextFile(configuration_);
    if (!configuration) {
        // No boot configuration: nftables.service loads nothing, and creating one would make
        // it load only our rules.
        return complete && !tnw::util::exists(configuration_);
    }
    if (!containsLine(*configuration, includeLine())) {
        std::string extended = *configuration;
        if (!extended.empty() && extended.back() != '\n') {
            extended += '\n';
        }
        extended += "\n# Quorvex Plexmill's own rules (plexmilld --configfirewall).\n" +
                    includeLine() + "\n";
        if (tnw::util::replaceFile(configuration_, extended) != 0) {
            return false;
        }
    }
    return complete;
}

} // namespace plexmill::firewall
