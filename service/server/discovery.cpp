#include "service/server/discovery.hpp"

#include "service/protocol/namespaces.hpp"
#include "service/protocol/numbers.hpp"
#include "service/server/admission.hpp"
#include "service/server/capacity.hpp"
#include "service/server/manager.hpp"
#include "service/server/settings.hpp"
#include "util/console.hpp"
#include "util/exception.hpp"
#include "util/format.hpp"
#include "util/version.hpp"

namespace plexmill::server {

namespace {

using protocol::kAdvertiseSuffix;
using protocol::kCurrentNamespace;
using protocol::kLegacyNamespace;
using protocol::kRequestAdvertiseSuffix;

// Datagrams handled in one turn of the main loop: under a flood the socket never runs dry, and
// the loop must still get round to its other sockets and to Ctrl+C.
constexpr int kDatagramsPerTurn = 64;

bool isRequest(std::string_view line) {
    return line == std::string(kCurrentNamespace) + std::string(kRequestAdvertiseSuffix) ||
           line == std::string(kLegacyNamespace) + std::string(kRequestAdvertiseSuffix);
}

bool isAdvertise(std::string_view line) {
    return line == std::string(kCurrentNamespace) + std::string(kAdvertiseSuffix) ||
           line == std::string(kLegacyNamespace) + std::string(kAdvertiseSuffix);
}

} // namespace

std::string advertiseDatagram(double rating, bool accepting, bool http) {
    std::string text = std::string(kLegacyNamespace) + std::string(kAdvertiseSuffix) + "\n";
    text += tnw::util::format("REVISION:%1\n", tnw::util::kRevision);
    if (rating > 0) {
        text += tnw::util::format("RATING:%1\n", rating);
    }
    text += tnw::util::format("ACCEPTING:%1\n", accepting ? "YES" : "NO");
    text += tnw::util::format("HTTP:%1\n", http ? "YES" : "NO");
    return text;
}

void sendAdvertise(Manager& manager, tnw::util::Socket& socket, const tnw::util::InetAddress& destination) {
    std::string datagram = advertiseDatagram(knownSystemRating(), isAccepting(manager), manager.config.useHttp);
    try {
        socket.sendTo(destination, datagram.data(), datagram.size());
    } catch (const tnw::util::Exception&) {
        // An advertisement that cannot be sent is simply not heard.
    }
}

void announce(Manager& manager, const tnw::util::InetAddress& destination) {
    try {
        tnw::util::Socket socket;
        if (socket.create(false)) {
            socket.setBroadcast(true);
            sendAdvertise(manager, socket, destination);
        }
    } catch (...) {
        // Announcing is a courtesy; the server runs without it.
    }
}

void requestAdvertisements(tnw::util::Socket& sender) {
    std::string request = std::string(kLegacyNamespace) + std::string(kRequestAdvertiseSuffix);
    try {
        sender.sendTo(tnw::util::InetAddress(tnw::util::InetAddress::kBroadcast, protocol::kDiscoveryPort),
                      request.data(), request.size());
    } catch (const tnw::util::Exception&) {
    }
}

void learnServer(Manager& manager, const std::string& address, std::string_view datagram, tnw::util::Time now) {
    KnownServer heard{now, address, 0, false};
    bool first = true;
    while (!datagram.empty()) {
        auto end = datagram.find('\n');
        std::string_view line = datagram.substr(0, end);
        datagram.remove_prefix(end == std::string_view::npos ? datagram.size() : end + 1);
        if (std::exchange(first, false)) {
            continue;
        }
        auto [key, value] = protocol::splitKeyValue(line);
        if (key == "REVISION") {
            heard.revision = protocol::parseUnsigned(value).value_or(0);
        } else if (key == "HTTP") {
            heard.http = value == "YES";
        }
    }
    tnw::util::Lock lock(tnw::util::globalLock());
    manager.knownServers.learn(std::move(heard));
}

void handleDatagrams(Manager& manager, tnw::util::Socket& socket) {
    const Settings& options = settings();
    try {
        char buffer[4096];
        for (int turn = 0; turn < kDatagramsPerTurn; ++turn) {
            auto received = socket.receiveFrom(buffer, sizeof buffer);
            if (received.status != tnw::util::ReceiveStatus::kReceived) {
                return;
            }
            const auto& sender = received.sender;
            recordRequest(manager, {sender.address(), sender.port()}, RequestRecord::Discovery);
            std::string_view datagram(buffer, received.count);
            std::string_view firstLine = datagram.substr(0, datagram.find('\n'));
            if (options.debug) {
                tnw::util::printInfo(tnw::util::format("Got datagram '%1'", firstLine));
            }
            if (isRequest(firstLine)) {
                ++manager.numberOfUDPRequests;
                if (!isAllowedClient(options, sender.address())) {
                    if (options.verbose) {
                        tnw::util::printInfo(tnw::util::format("Datagram from '%1' ignored due to allow list.", sender.toText()));
                    }
                    continue;
                }
                if (!isWithinAllowedTimes()) {
                    if (options.verbose) {
                        tnw::util::printInfo(
                            tnw::util::format("Datagram from '%1' ignored due to time restriction.", sender.toText()));
                    }
                    continue;
                }
                manager.discoveryAnswers.enqueue(socket, sender);
            } else if (isAdvertise(firstLine)) {
                learnServer(manager, sender.addressText(), datagram);
            }
        }
    } catch (const std::exception&) {
        // A bad datagram or a failing socket never ends the server; the next signal retries.
    } catch (const tnw::util::Exception&) {
    }
}

} // namespace plexmill::server
