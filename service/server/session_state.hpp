// What the server and other threads see of a live session. The session itself (its thread, its
// protocol) lives in the session library and derives from this.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "service/server/records.hpp"
#include "util/time.hpp"

namespace plexmill::server {

class SessionState;
// In order of arrival; a session leaves it in constant time from the place it keeps.
using SessionList = std::list<std::shared_ptr<SessionState>>;

class SessionState {
public:
    SessionState() = default;
    virtual ~SessionState() = default;
    SessionState(const SessionState&) = delete;
    SessionState& operator=(const SessionState&) = delete;

    // Shuts the connection down so the session thread ends promptly; the server calls it when
    // it stops. The session's own thread closes the descriptor.
    virtual void close() = 0;

    // Fixed when the session is created.
    std::uint32_t number = 0;
    std::int64_t id = 0;
    std::string folder;
    tnw::util::Time startTime;
    PeerAddress peer;

    // Read without the lock by the kernel relay; set by ABORT, the time-out and the server stop.
    std::atomic<bool> aborted{false};

    // Guarded by the global lock.
    // Its place in the server's list while it is listed (Manager::listSession).
    std::optional<SessionList::iterator> listing;
    // Its first command came after the handshake. Until then the connection counts among
    // those waiting to be admitted, which the server keeps few (admission.hpp).
    bool admitted = false;
    bool waiting = false;    // blocked reading its next command line
    bool jobSession = false; // RUN passed the busy check
    std::string user;
    std::string application;
    std::string kernel; // kernel GUID given with RUN
    std::string status;
    std::uint64_t elapsed = 0; // microseconds
    std::uint64_t cpuTime = 0; // microseconds, never decreases
    std::uint64_t memory = 0;  // peak working set of the kernel, bytes
    double cpuUsage = 0.0;     // share of the whole machine, 0..1
    std::uint64_t bytesReceived = 0;
    std::uint64_t bytesSent = 0;
};

} // namespace plexmill::server
