// Asks a running service for its state on its control channel: an abstract Unix-domain socket
// (scoped to the network namespace, like the names of instance_lock.hpp) on which the service
// takes one control per connection. Interrogation is the one control every user may send.
//
// On the wire, in ASCII: the request "4" and a line feed; the reply "<error> <state>" and a line
// feed, the error a Windows error number (0 when the control was taken) and the state the
// Windows service state number (1 stopped ... 7 paused).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tnw::util {

// Service states by their Windows numbers.
namespace service_state {
inline constexpr std::uint32_t kStopped = 1;
inline constexpr std::uint32_t kPaused = 7;
} // namespace service_state

// The state the service under `name` reports; nothing when no service listens there, or it does
// not answer within `timeout` microseconds, or its answer cannot be read.
std::optional<std::uint32_t> interrogateService(const std::string& name, std::uint32_t timeout);

} // namespace tnw::util
