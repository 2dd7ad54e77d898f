#include "service/session/kernel_phase.hpp"

#include "service/protocol/session_commands.hpp"
#include "service/session/kernel_run.hpp"
#include "util/console.hpp"
#include "util/durations.hpp"
#include "util/format.hpp"
#include "util/sync.hpp"

namespace plexmill::session {

void watchKernelPhase(Session& session) {
    if (session.aborted) {
        return;
    }
    try {
        std::string line = session.readLine();
        if (!line.empty()) {
            session.printReceived(line, false);
        }
        if (line == "ACK") {
            return;
        }
        if (!line.empty() && line != "ABORT") {
            tnw::util::printLine(tnw::util::ConsoleStream::Output,
                                 tnw::util::ConsoleColour::Error,
                                 "Invalid command: '" + line + "'.");
        }
    } catch (...) {
        // A connection that fails during the run aborts it like an ABORT would.
    }
    session.aborted = true;
}

void runKernelPhase(Session& session) {
    tnw::util::Thread watcher;
    if (watcher.start([&session]() -> std::uint32_t {
            watchKernelPhase(session);
            return 0;
        })) {
        watcher.resume();
    }
    try {
        if (runKernel(session, session.jobFile, session.kernel, session.clientRevision)) {
            session.sendText(protocol::kAck);
        } else {
            session.sendText(protocol::kRefusal);
            session.printVerbose("Failed to run CAM kernel.", false);
        }
        session.updateTraffic();
        session.shutdownSend();
    } catch (...) {
        // The watcher may still be reading: end its read before the session goes.
        session.close();
        watcher.wait(tnw::util::kInfinite);
        throw;
    }
    watcher.wait(tnw::util::kInfinite);
    session.closeSession();
    if (!tnw::util::outputOptions().serviceMode && !session.aborted) {
        std::uint64_t elapsed = tnw::util::Time::now().value() - session.startTime.value();
        session.info(
            tnw::util::format("Session completed in %1.", tnw::util::formatElapsed(elapsed)));
    }
}

} // namespace plexmill::session
