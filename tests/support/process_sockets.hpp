// What a test can see of another process's sockets: their options, read through a copy of the
// descriptor (pidfd_getfd, which needs the rights of a debugger over that process).
#pragma once

#include <cstdint>
#include <optional>
#include <sys/types.h>

namespace tnw::test {

// Whether TCP_NODELAY is set on the TCP socket that process `pid` holds towards `remotePort`
// (its peer's port: the test's own end of the connection); nullopt when it holds none.
std::optional<bool> noDelayTowards(pid_t pid, std::uint16_t remotePort);

// Processor time (user + system) the process has used so far, in clock ticks.
std::uint64_t processorTicks(pid_t pid);

} // namespace tnw::test
