#include "service/http/http_service.hpp"

#include "service/server/admission.hpp"
#include "util/thread.hpp"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace plexmill::http {

struct HttpService::State {
    explicit State(HttpLimits limits) : limits(limits) {}

    bool tryAcquire() {
        std::lock_guard<std::mutex> lock(mutex);
        if (active >= limits.maximumConnections) {
            return false;
        }
        ++active;
        return true;
    }

    void release() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            --active;
        }
        idle.notify_all();
    }

    const HttpLimits limits;
    mutable std::mutex mutex;
    mutable std::condition_variable idle;
    std::size_t active = 0;
};

namespace {

// Failures here cannot be acted on; the descriptor is released either way.
void closeConnection(tnw::util::Socket& connection) noexcept {
    try {
        connection.shutdownSend();
        connection.shutdownReceive();
        connection.close();
    } catch (...) {
    }
    connection.reset();
}

} // namespace

HttpService::HttpService(HttpLimits limits) : state_(std::make_shared<State>(limits)) {}

void HttpService::serve(server::Manager& manager, tnw::util::Socket connection) {
    tnw::util::InetAddress peer = connection.getPeerAddress();
    server::recordRequest(
        manager, server::PeerAddress{peer.address(), peer.port()}, server::RequestRecord::Http);
    if (!state_->tryAcquire()) {
        closeConnection(connection);
        return;
    }
    tnw::util::Thread thread;
    bool started = thread.start([state = state_, &manager, connection]() mutable -> std::uint32_t {
        try {
            handleConnection(manager, connection, state->limits);
        } catch (...) {
            // Time-outs, closed and reset connections end a connection; nothing to report.
        }
        closeConnection(connection);
        state->release();
        return 0;
    });
    if (!started) {
        closeConnection(connection);
        state_->release();
        return;
    }
    thread.resume();
}

std::size_t HttpService::activeConnections() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->active;
}

bool HttpService::waitUntilIdle(std::uint32_t timeout) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->idle.wait_for(
        lock, std::chrono::microseconds(timeout), [this] { return state_->active == 0; });
}

} // namespace plexmill::http
