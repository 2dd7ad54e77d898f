// Finding servers without configuration: answering request-advertise datagrams, announcing
// this server, and learning the other servers of the network from their advertisements.
#pragma once

#include <string>
#include <string_view>

#include "util/socket.hpp"
#include "util/time.hpp"

namespace plexmill::server {

class Manager;

// The advertise datagram: identifier, REVISION, RATING (only above 0), ACCEPTING, HTTP, each
// line ending in a line feed.
std::string advertiseDatagram(double rating, bool accepting, bool http);

// Reads and handles the datagrams waiting on the socket, at most a turn's worth; requests are
// answered by the manager's DiscoveryAnswers. Errors never leave it.
void handleDatagrams(Manager& manager, tnw::util::Socket& socket);

void sendAdvertise(Manager& manager, tnw::util::Socket& socket, const tnw::util::InetAddress& destination);

// Sends one advertisement from a socket of its own; every error is swallowed.
void announce(Manager& manager, const tnw::util::InetAddress& destination);

// Asks every server of the network to advertise itself (to 255.255.255.255:7388).
void requestAdvertisements(tnw::util::Socket& sender);

// Learns the sender of an advertise datagram into the known servers (KnownServers::learn).
void learnServer(Manager& manager,
                 const std::string& address,
                 std::string_view datagram,
                 tnw::util::Time now = tnw::util::Time::now());

} // namespace plexmill::server
