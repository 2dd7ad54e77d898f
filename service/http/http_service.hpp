// The hand-over from the server's accept loop to the status service: every accepted connection
// is recorded among the recent requests and served on a thread of its own, up to a limit of
// connections at once.
#pragma once

#include "service/http/connection_handler.hpp"
#include "service/server/manager.hpp"
#include "util/socket.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace plexmill::http {

class HttpService : public server::Manager::HttpServer {
public:
    explicit HttpService(HttpLimits limits = {});

    // Returns at once; a connection beyond the limit (when no connection waits for its client
    // to read, HttpLimits), or one no thread could be started for, is closed unanswered. The
    // Manager must outlive the connection threads.
    void serve(server::Manager& manager, tnw::util::Socket connection) override;

    std::size_t activeConnections() const;
    // True once no connection is being served; microseconds.
    bool waitUntilIdle(std::uint32_t timeout) const override;

private:
    struct State;
    std::shared_ptr<State> state_; // shared with the connection threads
};

} // namespace plexmill::http
