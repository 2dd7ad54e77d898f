#include "service/session/session_end.hpp"

#include "util/sync.hpp"

namespace plexmill::session {

void endSession(server::Manager& manager, Session& session, tnw::util::Time now) {
    tnw::util::Lock lock(tnw::util::globalLock());
    session.thread = {};
    // Leaving the list comes first: a server that stops waits for the list to empty.
    manager.unlistSession(session);
    manager.sessionsChanged = true;
    if (!session.admitted && manager.unadmittedSessions > 0) {
        --manager.unadmittedSessions;
    }
    if (session.terminated && !session.disconnected) {
        ++manager.statistics.failures;
        manager.statistics.lastFailure = now;
    }
    if (session.jobSession) {
        while (manager.history.size() >= kHistoryLimit) {
            manager.history.pop_back();
        }
        manager.history.push_front(server::SessionRecord{session.peer,
                                                         session.user,
                                                         session.application,
                                                         session.startTime,
                                                         now,
                                                         session.cpuTime,
                                                         session.memory,
                                                         session.bytesReceived,
                                                         session.bytesSent,
                                                         session.status});
    }
}

} // namespace plexmill::session
