#include "service/server/admission.hpp"

#include "service/server/kernel_cache.hpp"
#include "service/server/manager.hpp"
#include "service/server/settings.hpp"
#include "util/access_log.hpp"
#include "util/console.hpp"
#include "util/format.hpp"

#include <algorithm>
#include <map>

namespace plexmill::server {

namespace {

constexpr std::uint64_t kRecentWindow = 300'000'000; // microseconds
constexpr std::size_t kRecentLimit = 20;

void refuse(tnw::util::Socket& connection) {
    connection.shutdownReceive();
    connection.shutdownSend();
    connection.close();
}

bool isWaiting(const SessionState& session) {
    return !session.admitted && !session.aborted;
}

// At the limit of waiting connections, ends the oldest waiting one of the address that holds
// the most of them (the session list is in order of arrival).
void makeRoomForWaitingConnection(Manager& manager) {
    tnw::util::Lock lock(tnw::util::globalLock());
    // Waiting sessions are a part of the unadmitted ones: with fewer of those there is room.
    if (manager.unadmittedSessions < kWaitingConnectionLimit) {
        return;
    }
    std::map<std::uint32_t, std::size_t> waitingFrom;
    std::size_t waiting = 0;
    for (const auto& session : manager.sessions) {
        if (isWaiting(*session)) {
            ++waitingFrom[session->peer.address];
            ++waiting;
        }
    }
    if (waiting < kWaitingConnectionLimit) {
        return;
    }
    auto busiest =
        std::max_element(waitingFrom.begin(), waitingFrom.end(), [](const auto& a, const auto& b) {
            return a.second < b.second;
        });
    for (const auto& session : manager.sessions) {
        if (isWaiting(*session) && session->peer.address == busiest->first) {
            session->aborted = true;
            session->close();
            return;
        }
    }
}

} // namespace

void recordRequest(Manager& manager, PeerAddress peer, std::uint32_t kind, tnw::util::Time now) {
    tnw::util::Lock lock(tnw::util::globalLock());
    auto& recent = manager.recentRequests;
    for (auto& record : recent) {
        if (record.firstSeen.value() + kRecentWindow <= now.value()) {
            break;
        }
        if (record.kind == kind && record.peer.address == peer.address) {
            ++record.count;
            record.lastSeen = now;
            return;
        }
    }
    recent.push_front(RequestRecord{peer, now, now, kind, {}, 1});
    while (recent.size() > kRecentLimit) {
        recent.pop_back();
    }
}

bool admitConnection(Manager& manager, const tnw::util::InetAddress& peer) {
    const Settings& options = settings();
    if (options.debug) {
        tnw::util::printInfo(tnw::util::format("Incoming connection from '%1'.", peer.toText()));
    }
    if (!isAllowedClient(options, peer.address())) {
        if (options.verbose) {
            tnw::util::printInfo(tnw::util::format("Connection from '%1' ignored due to allow list.", peer.toText()));
        }
        return false;
    }
    for (const auto& rule : manager.config.admissionRules) {
        if (((peer.address() ^ rule.address) & ~rule.wildcardBits) != 0) {
            continue;
        }
        if (rule.allow) {
            tnw::util::AccessLog::write(tnw::util::format("Incoming connection from %1 accepted.", peer.toText()));
            return true;
        }
        break;
    }
    tnw::util::printInfo(tnw::util::format("Incoming connection '%1' is denied by settings.", peer.toText()));
    tnw::util::AccessLog::write(tnw::util::format("WARNING Incoming connection from %1 rejected.", peer.toText()));
    return false;
}

bool acceptConnections(Manager& manager, tnw::util::Socket& listener) {
    for (;;) {
        bool outOfResources = false;
        tnw::util::Socket connection = listener.accept(&outOfResources);
        if (!connection) {
            return !outOfResources;
        }
        ++manager.numberOfTCPRequests;
        tnw::util::InetAddress peer = connection.getPeerAddress();
        PeerAddress peerAddress{peer.address(), peer.port()};
        recordRequest(manager, peerAddress, RequestRecord::Session);
        if (!admitConnection(manager, peer)) {
            refuse(connection);
            return true;
        }
        if (manager.openSessions() == 0) {
            cleanKernelCache(manager);
        }
        if (!isWithinAllowedTimes()) {
            refuse(connection);
            return true;
        }
        makeRoomForWaitingConnection(manager);
        connection.setNonBlocking(false);
        connection.setNoDelay(true);
        if (!manager.startSession || !manager.startSession(manager, connection, peerAddress)) {
            refuse(connection);
        }
    }
}

} // namespace plexmill::server
