#include "service/session/transfer_commands.hpp"

// The transfer commands are not served by this build yet: each is refused as a line that is
// no command, so the client sees the connection close and no file is written.
namespace plexmill::session {

void handleRun(Session& session) {
    session.refuseCommand("RUN");
}

void handleIsFileCached(Session& session) {
    session.refuseCommand("IS_FILE_CACHED");
}

void handleIsCached(Session& session) {
    session.refuseCommand("IS_CACHED");
}

void handleKernel(Session& session) {
    session.refuseCommand("KERNEL");
}

void handleFileCache(Session& session) {
    session.refuseCommand("FILE_CACHE");
}

void handleFile(Session& session) {
    session.refuseCommand("FILE");
}

} // namespace plexmill::session
