#include "service/http/http_service.hpp"

#include "service/server/admission.hpp"
#include "util/thread.hpp"

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <optional>

namespace plexmill::http {

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

struct HttpService::State {
    // A connection being served. One that was dropped to make room still has its thread until
    // that thread sees its socket shut down, but no longer counts against the limit.
    struct Slot {
        tnw::util::Socket socket;
        bool dropped = false;
    };
    using Slots = std::list<Slot>;

    explicit State(HttpLimits limits) : limits(limits) {}

    // A place for the connection, if need be the place of the one that has waited longest for
    // its client to read: a client that asks and never reads must not keep others out.
    std::optional<Slots::iterator> tryAcquire(const tnw::util::Socket& connection) {
        std::lock_guard<std::mutex> lock(mutex);
        if (active >= limits.maximumConnections && !dropLongestWaiting()) {
            return std::nullopt;
        }
        ++active;
        return slots.insert(slots.end(), Slot{connection});
    }

    // Closes the connection and frees its place. The close happens under the lock that
    // dropLongestWaiting shuts connections down under, so that never meets a descriptor
    // number already reused for something else.
    void release(Slots::iterator slot) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            closeConnection(slot->socket);
            if (!slot->dropped) {
                --active;
            }
            slots.erase(slot);
        }
        idle.notify_all();
    }

    const HttpLimits limits;
    mutable std::mutex mutex;
    mutable std::condition_variable idle;
    Slots slots;            // guarded by mutex
    std::size_t active = 0; // slots not dropped; guarded by mutex

private:
    bool dropLongestWaiting() {
        Slot* longest = nullptr;
        std::uint64_t since = 0;
        for (Slot& slot : slots) {
            std::uint64_t waiting = slot.dropped ? 0 : slot.socket.sendWaitingSince();
            if (waiting != 0 && (longest == nullptr || waiting < since)) {
                longest = &slot;
                since = waiting;
            }
        }
        if (longest == nullptr) {
            return false;
        }
        // Shutting it down ends its send at once; its thread then closes it.
        longest->dropped = true;
        longest->socket.shutdownSend();
        longest->socket.shutdownReceive();
        --active;
        return true;
    }
};

HttpService::HttpService(HttpLimits limits) : state_(std::make_shared<State>(limits)) {}

void HttpService::serve(server::Manager& manager, tnw::util::Socket connection) {
    tnw::util::InetAddress peer = connection.getPeerAddress();
    server::recordRequest(
        manager, server::PeerAddress{peer.address(), peer.port()}, server::RequestRecord::Http);
    auto slot = state_->tryAcquire(connection);
    if (!slot) {
        closeConnection(connection);
        return;
    }
    tnw::util::Thread thread;
    bool started = thread.start(
        [state = state_, slot = *slot, &manager, connection]() mutable -> std::uint32_t {
            try {
                handleConnection(manager, connection, state->limits);
            } catch (...) {
                // Time-outs, closed and reset connections end a connection; nothing to report.
            }
            connection.reset();
            state->release(slot);
            return 0;
        });
    if (!started) {
        state_->release(*slot);
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
        lock, std::chrono::microseconds(timeout), [this] { return state_->slots.empty(); });
}

} // namespace plexmill::http
