// The control channel of a running service: the service listens on an abstract Unix-domain
// socket (scoped to the network namespace, like the instance names of instance_lock.hpp), and
// an administrator's tool or the tray monitor connects, sends one control and reads the
// service's state back.
//
// On the wire, in ASCII: the request is the control code in decimal and a line feed; the
// reply is "<error> <state>" and a line feed, the error a Windows error number (0 when the
// control was taken) and the state one of ServiceState. The peer's credentials come from the
// socket itself (SO_PEERCRED), never from what it sends.
#pragma once

#include "util/handle.hpp"

#include <cstdint>
#include <functional>
#include <string>

namespace tnw::util {

// Controls by their Windows numbers; 128 to 255 are the service's own.
namespace service_control {
inline constexpr std::uint32_t kStop = 1;
inline constexpr std::uint32_t kPause = 2;
inline constexpr std::uint32_t kContinue = 3;
inline constexpr std::uint32_t kInterrogate = 4;
inline constexpr std::uint32_t kFirstUserDefined = 128;
inline constexpr std::uint32_t kLastUserDefined = 255;
} // namespace service_control

// Service states by their Windows numbers.
enum class ServiceState : std::uint32_t {
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
    Running = 4,
    ContinuePending = 5,
    PausePending = 6,
    Paused = 7,
};

// Windows error numbers of refused controls.
namespace service_error {
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidParameter = 87;
inline constexpr std::uint32_t kInvalidControl = 1052;
inline constexpr std::uint32_t kCannotAcceptControl = 1061;
} // namespace service_error

struct ServiceControlReply {
    std::uint32_t error = 0;
    ServiceState state = ServiceState::Stopped;
};

// Who sent a control.
struct ServiceControlPeer {
    std::uint32_t userId = 0;
    std::uint64_t processId = 0;
    // Root, or the user this process runs as: the only senders of controls that change
    // anything.
    bool privileged = false;
};

// The service's side: a listening socket under the name for as long as it is open.
class ServiceControlListener {
public:
    using Answer =
        std::function<ServiceControlReply(std::uint32_t control, const ServiceControlPeer& peer)>;

    // Takes the name; an invalid listener when another process holds it or it cannot be made.
    static ServiceControlListener open(const std::string& name);

    bool isValid() const { return socket_.isValid(); }
    // Readable while a connection waits, for waitForAny.
    const Handle& handle() const { return socket_; }
    // Serves one waiting connection, if any: reads its request (waiting at most `timeout`
    // microseconds for it), answers it and closes it. A request that is not a number gets error
    // 87 and never reaches `answer`.
    void serveOne(const Answer& answer, std::uint32_t timeout);
    void close() { socket_.close(); }

private:
    Handle socket_;
};

enum class ServiceControlOutcome {
    Answered,
    NotListening, // no service holds the name: it does not run
    Failed,       // the service did not answer in time, or answered something unreadable
};

struct ServiceControlResult {
    ServiceControlOutcome outcome = ServiceControlOutcome::Failed;
    ServiceControlReply reply;
    std::uint64_t serviceProcessId = 0; // from the socket's credentials; 0 when not answered
};

// Sends one control to the service listening under `name` and waits at most `timeout`
// microseconds for its reply.
ServiceControlResult
sendServiceControl(const std::string& name, std::uint32_t control, std::uint32_t timeout);

} // namespace tnw::util
