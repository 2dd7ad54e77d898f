#include "service/server/known_servers.hpp"

namespace plexmill::server {

void KnownServers::learn(KnownServer heard) {
    std::uint64_t now = heard.lastSeen.value();
    while (!byLastHeard_.empty() && byLastHeard_.front()->lastSeen.value() + kLifetime < now) {
        forget(byLastHeard_.front());
    }
    if (auto known = index_.find(heard.address); known != index_.end()) {
        Position& position = known->second;
        position.server->lastSeen = heard.lastSeen;
        byLastHeard_.splice(byLastHeard_.end(), byLastHeard_, position.heard);
        return;
    }
    if (servers_.size() >= kLimit) {
        forget(byLastHeard_.front());
    }
    std::string address = heard.address;
    auto server = servers_.insert(servers_.end(), std::move(heard));
    auto position = byLastHeard_.insert(byLastHeard_.end(), server);
    index_.emplace(std::move(address), Position{server, position});
}

std::vector<KnownServer> KnownServers::list() const {
    return {servers_.begin(), servers_.end()};
}

void KnownServers::forget(ServerList::iterator server) {
    auto known = index_.find(server->address);
    byLastHeard_.erase(known->second.heard);
    index_.erase(known);
    servers_.erase(server);
}

} // namespace plexmill::server
