// The commands that fill a session's folder before the kernel runs: the job (RUN), files sent
// in full (FILE) or taken from the file cache (FILE_CACHE, IS_FILE_CACHED), and uploaded CAM
// kernels (KERNEL, IS_CACHED). Each is called by the dispatcher right after its command line
// and reads its own argument lines and bulk data.
//
// A handler reports a failed command with Session::terminate(status) (the loop ends at its next
// turn, a loaded job still runs) or ends the session at once with Session::refuseCommand; a
// failing connection raises. RUN sets jobSession (under the global lock, adding one to the
// server's totalSessions), jobFile and jobLoaded; FILE and FILE_CACHE keep dataSize and
// fileNames.
#pragma once

#include "service/session/session.hpp"

namespace plexmill::session {

void handleRun(Session& session);
void handleIsFileCached(Session& session);
void handleIsCached(Session& session);
void handleKernel(Session& session);
void handleFileCache(Session& session);
void handleFile(Session& session);

} // namespace plexmill::session
