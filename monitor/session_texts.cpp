#include "monitor/session_texts.hpp"

#include "service/protocol/numbers.hpp"
#include "util/durations.hpp"
#include "util/format.hpp"
#include "util/inet_address.hpp"
#include "util/name_resolution.hpp"
#include "util/name_resolver.hpp"
#include "util/time.hpp"

namespace plexmill::monitor {

namespace {

struct Peer {
    std::string name; // empty when the address has none
    std::string dotted;
};

// The HOST value is the address, ":" and the port; an address that does not parse is 0.0.0.0.
Peer peerOf(const std::string& host) {
    std::uint32_t address =
        tnw::util::parseAddress(std::string_view(host).substr(0, host.find(':'))).value_or(0);
    Peer peer{tnw::util::NameResolver::lookupName(address), tnw::util::addressText(address)};
    // The resolver answers with the dotted text itself when the address has no name.
    if (peer.name == peer.dotted) {
        peer.name.clear();
    }
    return peer;
}

// The texts of both lists begin with the peer: "name [a.b.c.d]" or "[a.b.c.d]", as placeholders
// before the `details`.
std::string describe(const std::string& host,
                     std::string_view withName,
                     std::string_view withoutName,
                     const std::vector<std::string>& details) {
    Peer peer = peerOf(host);
    std::vector<std::string> arguments;
    if (!peer.name.empty()) {
        arguments.push_back(peer.name);
    }
    arguments.push_back(peer.dotted);
    arguments.insert(arguments.end(), details.begin(), details.end());
    return tnw::util::format(peer.name.empty() ? withoutName : withName, arguments);
}

} // namespace

LiveSessionFacts readLiveSession(const std::vector<std::string>& sessionInfoLines) {
    LiveSessionFacts facts;
    for (const auto& line : sessionInfoLines) {
        auto [key, value] = protocol::splitKeyValue(line);
        auto number = [value = value] { return protocol::parseUnsigned64(value).value_or(0); };
        if (key == "HOST") {
            facts.host = value;
        } else if (key == "USER") {
            facts.user = value;
        } else if (key == "SINCE") {
            facts.since = number();
        } else if (key == "PROCESSING_TIME") {
            facts.processingTime = number();
        } else if (key == "MEMORY_USAGE") {
            facts.memoryUsage = number();
        }
    }
    return facts;
}

std::string activeSessionText(const LiveSessionFacts& session) {
    return describe(session.host,
                    "%1 [%2]: USER=%3 SINCE=%4 MEM=%5Mb",
                    "[%1]: USER=%2 SINCE=%3 MEM=%4Mb",
                    {session.user,
                     tnw::util::Time(session.since).toLocal().toShortText(),
                     std::to_string(session.memoryUsage / 1024 / 1024)});
}

std::string recentSessionText(const FinishedSessionFacts& session) {
    // A record that ends before it starts cannot be timed; it shows no time rather than
    // thousands of years.
    std::uint64_t duration = session.completed > session.started
                                 ? static_cast<std::uint64_t>(session.completed) -
                                       static_cast<std::uint64_t>(session.started)
                                 : 0;
    return describe(session.host,
                    "%1 [%2]: USER=%3 TIME=%4",
                    "[%1]: USER=%2 TIME=%3",
                    {session.user, tnw::util::formatElapsed(duration)});
}

} // namespace plexmill::monitor
