#include "service/session/session_thread.hpp"

#include "service/session/dispatcher.hpp"
#include "service/session/session_end.hpp"
#include "util/console.hpp"
#include "util/exception.hpp"
#include "util/sync.hpp"

#include <utility>

namespace plexmill::session {

namespace {

void markDisconnected(Session& session) {
    session.disconnected = true;
    session.terminate("Disconnected");
}

} // namespace

std::shared_ptr<Session>
createSession(server::Manager& manager, tnw::util::Socket connection, server::PeerAddress peer) {
    auto session = std::make_shared<Session>(manager, std::move(connection), peer);
    tnw::util::Lock lock(tnw::util::globalLock());
    manager.listSession(session);
    ++manager.unadmittedSessions;
    return session;
}

bool startSession(server::Manager& manager,
                  tnw::util::Socket connection,
                  server::PeerAddress peer) {
    std::shared_ptr<Session> session = createSession(manager, std::move(connection), peer);
    tnw::util::Thread thread;
    bool started = thread.start([session]() -> std::uint32_t {
        runSession(*session);
        return 0;
    });
    if (!started) {
        tnw::util::printError("Failed to create thread.");
        endSession(manager, *session);
        return false;
    }
    // The thread waits at its start gate until the session holds it.
    session->thread = thread;
    thread.resume();
    return true;
}

void runSession(Session& session) {
    try {
        dispatch(session);
    } catch (const tnw::util::EndOfStreamException&) {
        markDisconnected(session);
    } catch (const tnw::util::IOTimedOutException&) {
        markDisconnected(session);
    } catch (...) {
        // Any other failure ends only this session; its status says what was known.
    }
    try {
        session.closeSession();
    } catch (...) {
        // The folder stays behind; the session still ends.
    }
    endSession(session.server(), session);
}

} // namespace plexmill::session
