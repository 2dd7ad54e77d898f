#include "service/server/manager.hpp"

#include <cstdio>
#include <iterator>

#include "util/console.hpp"

namespace plexmill::server {

void ConsoleRunControl::requestStop() {
    // The flag first: the loop the event wakes must already see why it woke.
    stopRequested_.store(true);
    stopEvent_.set();
}

Manager::Manager(RunControl* service) : service_(service) {}

Manager::~Manager() = default;

void Manager::onConsoleInterrupt() {
    if (service_ != nullptr) {
        return;
    }
    if (!console_.stopRequested()) {
        tnw::util::eraseStatusLine();
        std::fputs("Please wait while aborting...\n", stdout);
        std::fflush(stdout);
    }
    console_.requestStop();
}

bool Manager::createStopEvent() { return service_ != nullptr || console_.create(); }

std::uint32_t Manager::countJobSessions() const {
    tnw::util::Lock lock(tnw::util::globalLock());
    return listedJobSessions_;
}

void Manager::markJobSession(SessionState& session) {
    if (!session.jobSession && session.listing) {
        ++listedJobSessions_;
    }
    session.jobSession = true;
}

void Manager::listSession(std::shared_ptr<SessionState> session) {
    SessionState& listed = *session;
    sessions.push_back(std::move(session));
    listed.listing = std::prev(sessions.end());
}

void Manager::unlistSession(SessionState& session) {
    if (session.listing) {
        // The list's reference may be the last one: nothing of the session is touched after.
        SessionList::iterator place = *session.listing;
        session.listing.reset();
        listedJobSessions_ -= session.jobSession ? 1 : 0;
        sessions.erase(place);
    }
}

std::size_t Manager::openSessions() const {
    tnw::util::Lock lock(tnw::util::globalLock());
    return sessions.size();
}

} // namespace plexmill::server
