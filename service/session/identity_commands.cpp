#include "service/session/identity_commands.hpp"

#include "service/protocol/client_identity.hpp"
#include "service/protocol/numbers.hpp"
#include "service/protocol/session_commands.hpp"
#include "util/sync.hpp"

#include <string>
#include <string_view>

namespace plexmill::session {

namespace {

// The first non-empty name stays; a later one is read, refused and dropped.
void storeIdentity(Session& session,
                   std::string server::SessionState::*field,
                   std::string_view refusal) {
    std::string text = session.readLine();
    bool stored = false;
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        if ((session.*field).empty()) {
            session.*field = protocol::filterClientIdentity(text);
            stored = true;
        }
    }
    if (!stored) {
        session.printVerbose(refusal);
        session.sendText(protocol::kRefusal);
        return;
    }
    session.sendText(protocol::kAck);
}

} // namespace

void handleUser(Session& session) {
    storeIdentity(session, &server::SessionState::user, "Invalid username.");
}

void handleApplication(Session& session) {
    storeIdentity(session, &server::SessionState::application, "Invalid application.");
}

void handleRevision(Session& session) {
    if (session.clientRevision != 0) {
        session.printVerbose("Revision already provided.");
        session.terminate("Session terminated");
        return;
    }
    auto revision = protocol::parseUnsigned(session.readLine());
    if (!revision) {
        session.printVerbose("Invalid revision.");
        session.sendText(protocol::kRefusal);
        session.terminate("Session terminated");
        return;
    }
    session.clientRevision = *revision;
    session.sendText(protocol::kAck);
}

} // namespace plexmill::session
