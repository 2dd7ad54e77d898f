// Serving one connection of the status port: requests one after the other until the client
// pauses, closes, asks for a static resource, or sends something this service does not answer.
#pragma once

#include "service/server/manager.hpp"
#include "util/socket.hpp"

#include <cstddef>
#include <cstdint>

namespace plexmill::http {

struct HttpLimits {
    // Milliseconds a new connection may take to send the first line of its first request.
    // Browsers open connections before they use them, and a busy client sends late: cut off
    // after the 15 ms of the later waits, such page loads failed.
    std::uint32_t firstRequestTimeout = 1000;
    // Milliseconds the client may pause within a request and between requests.
    std::uint32_t receiveTimeout = 15;
    // Lines of one request, the request line included. A client that sends more is answered
    // "400 Bad Request" and dropped, so that one connection cannot keep its thread for ever
    // with header lines that never end.
    std::size_t maximumHeaderLines = 100;
    // Microseconds the client may take nothing of an answer before it is dropped, so that a
    // client that asks and never reads gives its connection back.
    std::uint32_t sendTimeout = 10'000'000;
    // Connections served at once, each on its own thread. A new one beyond it takes the place
    // of the connection that has waited longest for its client to read; when no connection
    // waits so, it is closed unanswered.
    std::size_t maximumConnections = 64;
};

// Runs until the connection is done with; the socket is left for the caller to close. Receive
// and send failures, the receive time-out included, end it with their exceptions.
void handleConnection(const server::Manager& manager,
                      tnw::util::Socket socket,
                      const HttpLimits& limits);

} // namespace plexmill::http
