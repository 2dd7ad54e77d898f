#include "service/cli/network_queries.hpp"

#include <cstdio>
#include <vector>

#include "service/cli/reply_texts.hpp"
#include "service/cli/server_discovery.hpp"
#include "service/cli/session_client.hpp"
#include "service/cli/status_refusals.hpp"
#include "service/protocol/namespaces.hpp"
#include "service/protocol/numbers.hpp"
#include "service/server/peer_display_name.hpp"
#include "service/server/settings.hpp"
#include "util/console.hpp"
#include "util/exception.hpp"
#include "util/format.hpp"
#include "util/inet_address.hpp"
#include "util/instance_lock.hpp"
#include "util/version.hpp"

namespace plexmill::cli {

namespace {

void printLine(const std::string& text) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void printInfoLines(const std::vector<std::string>& lines, bool withFrequency) {
    for (const auto& line : lines) {
        auto [key, value] = protocol::splitKeyValue(line);
        if (auto text = infoLineText(key, value, withFrequency)) {
            printLine("  " + *text);
        }
    }
}

} // namespace

void listServers() {
    bool debug = server::settings().debug;
    std::vector<std::uint32_t> servers = discoverServers();
    if (servers.empty()) {
        printLine(tnw::util::format("No running %1 found on network.", tnw::util::kProductName));
        return;
    }
    for (std::size_t n = 1; n <= servers.size(); ++n) {
        std::uint32_t address = servers[n - 1];
        try {
            SessionClient client;
            if (!client.open(tnw::util::addressText(address))) {
                if (debug) {
                    printLine("Got no response from '" + server::peerDisplayName(address) + "'.");
                }
                continue;
            }
            std::vector<std::string> info = client.infoLines();
            client.finish();
            if (info.empty()) {
                continue;
            }
            printLine(std::to_string(n) + " - " + server::peerDisplayName(address) + ":");
            printInfoLines(info, false);
        } catch (const tnw::util::Exception&) {
            if (debug) {
                printLine("Got invalid response from '" + server::peerDisplayName(address) + "'.");
            }
        }
    }
}

namespace {

// INFO and the open sessions, over the session port.
void showSessionStatus(const std::string& host) {
    try {
        SessionClient client;
        if (!client.open(host) || client.infoLines().empty()) {
            tnw::util::printError("Failed to connect to server.");
            return;
        }
        printLine("Info:");
        std::vector<std::string> sessions;
        for (const auto& line : client.infoLines()) {
            auto [key, value] = protocol::splitKeyValue(line);
            if (key == "SESSION") {
                sessions.emplace_back(value);
            } else if (auto text = infoLineText(key, value, true)) {
                printLine("  " + *text);
            }
        }
        for (std::size_t k = 1; k <= sessions.size(); ++k) {
            printLine("");
            printLine("Session: " + std::to_string(k));
            for (const auto& line : client.sessionInfo(sessions[k - 1])) {
                auto [key, value] = protocol::splitKeyValue(line);
                if (auto text = sessionLineText(key, value)) {
                    printLine("  " + *text);
                }
            }
        }
        client.finish();
    } catch (const tnw::util::Exception&) {
        tnw::util::printError("Failed to connect to server.");
    }
}

} // namespace

void showStatus(const std::string& host) {
    showSessionStatus(host);
    // Also after a refused connection: a client outside the allow list learns why here.
    printRefusals(host);
}

void showLocalStatus() {
    bool running = tnw::util::InstanceLock::isHeld(protocol::serverInstanceName());
    if (!running) {
        try {
            SessionClient client;
            if (client.open("127.0.0.1")) {
                running = !client.infoLines().empty();
                client.finish();
            }
        } catch (const tnw::util::Exception&) {
            running = false;
        }
    }
    printLine(std::string(tnw::util::kProductName) + (running ? " running on this PC." : " not running on this PC."));
}

int showCached(const std::string& host, const std::string& file) {
    try {
        SessionClient client;
        if (!client.open(host)) {
            if (server::settings().debug) {
                printLine("Got no response from '" + host + "'.");
            }
            return 1;
        }
        bool cached = client.isFileCached(file);
        printLine(tnw::util::format(cached ? "File '%1' is cached." : "File '%1' is not cached.", file));
        client.finish();
        return cached ? 0 : 1;
    } catch (const tnw::util::Exception&) {
        tnw::util::printLine(tnw::util::ConsoleStream::Error, tnw::util::ConsoleColour::Normal,
                             "Failed to connect to '" + host + "'.");
        return 1;
    }
}

} // namespace plexmill::cli
