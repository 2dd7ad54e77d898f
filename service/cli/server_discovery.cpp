#include "service/cli/server_discovery.hpp"

#include <algorithm>
#include <string>
#include <string_view>

#include "service/protocol/namespaces.hpp"
#include "util/clock.hpp"
#include "util/exception.hpp"
#include "util/socket.hpp"
#include "util/thread.hpp"

namespace plexmill::cli {

namespace {

// The datagram's first non-empty line.
std::string_view firstLine(std::string_view datagram) {
    while (!datagram.empty()) {
        auto end = datagram.find('\n');
        std::string_view line = datagram.substr(0, end);
        if (!line.empty()) {
            return line;
        }
        if (end == std::string_view::npos) {
            break;
        }
        datagram.remove_prefix(end + 1);
    }
    return {};
}

} // namespace

std::vector<std::uint32_t> discoverServers(const DiscoveryLimits& limits) {
    using tnw::util::InetAddress;
    std::vector<std::uint32_t> servers;
    tnw::util::Socket socket;
    if (!socket.create(false)) {
        return servers;
    }
    const std::string advertise = std::string(protocol::kLegacyNamespace) + std::string(protocol::kAdvertiseSuffix);
    try {
        socket.setBroadcast(true);
        socket.bind(InetAddress(InetAddress::kAny, 0));
        socket.setNonBlocking(true);
        std::string request = std::string(protocol::kLegacyNamespace) + std::string(protocol::kRequestAdvertiseSuffix);
        socket.sendTo(InetAddress(InetAddress::kBroadcast, protocol::kDiscoveryPort), request.data(), request.size());

        std::uint64_t start = tnw::util::monotonicMicroseconds();
        std::uint64_t quietDeadline = start + limits.quiet;
        std::size_t replies = 0;
        char buffer[1024];
        while (replies < limits.maximumReplies) {
            std::uint64_t now = tnw::util::monotonicMicroseconds();
            if (now >= quietDeadline || now >= start + limits.hardEnd || (now >= start + limits.softEnd && replies > 0)) {
                break;
            }
            auto received = socket.receiveFrom(buffer, sizeof buffer);
            if (received.status != tnw::util::ReceiveStatus::kReceived) {
                tnw::util::Thread::sleep(50'000);
                continue;
            }
            std::string_view datagram(buffer, received.count);
            if (datagram.size() < advertise.size() || firstLine(datagram) != advertise) {
                continue;
            }
            ++replies;
            std::uint32_t sender = received.sender.address();
            if (std::find(servers.begin(), servers.end(), sender) == servers.end()) {
                servers.push_back(sender);
            }
            quietDeadline = now + limits.quietAfterReply;
        }
    } catch (const tnw::util::Exception&) {
        // What was collected so far stands.
    }
    socket.close();
    return servers;
}

} // namespace plexmill::cli
