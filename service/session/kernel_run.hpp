// Running the CAM kernel for a session: choosing and checking its folder, starting it in the
// session folder, relaying its standard output to the client, watching time, memory and CPU,
// and stopping it on abort or time-out.
#pragma once

#include <cstdint>
#include <string>

#include "service/session/session.hpp"

namespace plexmill::session {

// True when the kernel ran (also when ABORT or the time-out ended it); false when it could
// not be started or the relay failed. The caller then sends "ACK\n" or "\n".
bool runKernel(Session& session, const std::string& jobFile, const std::string& guid, std::uint32_t clientRevision);

} // namespace plexmill::session
