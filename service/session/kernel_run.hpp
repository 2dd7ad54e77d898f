// Running the CAM kernel on a session's job: called by the dispatcher after DONE when a job is
// loaded, on the session thread, while the kernel-phase watcher may set the session's aborted
// flag at any time. Relays the kernel's standard output to the client and keeps the session's
// statistics; the dispatcher sends the final reply line.
#pragma once

#include "service/session/session.hpp"

#include <cstdint>
#include <string>

namespace plexmill::session {

// True when the kernel ran (also when an abort or the time-out stopped it); false when it
// could not be started or the run failed, after writing why as a session error.
bool runKernel(Session& session,
               const std::string& jobFile,
               const std::string& kernelGuid,
               std::uint32_t clientRevision);

} // namespace plexmill::session
