#include "service/session/dispatcher.hpp"

#include "service/protocol/session_commands.hpp"
#include "service/server/capacity.hpp"
#include "service/server/settings.hpp"
#include "service/session/identity_commands.hpp"
#include "service/session/kernel_phase.hpp"
#include "service/session/query_commands.hpp"
#include "service/session/transfer_commands.hpp"
#include "service/session/uploaded_kernels.hpp"
#include "util/console.hpp"
#include "util/files.hpp"
#include "util/format.hpp"
#include "util/sync.hpp"
#include "util/system_info.hpp"
#include "util/thread.hpp"

#include <utility>

namespace plexmill::session {

namespace {

using protocol::Command;

void answer(Session& session, bool yes) {
    session.sendText(yes ? protocol::kAck : protocol::kRefusal);
}

void handleArch(Session& session) {
    bool x64 = !server::settings().x86 &&
               tnw::util::SystemInfo::processorArchitecture() == tnw::util::architecture::kX64;
    if (x64) {
        session.sendText("X64\n");
        return;
    }
    tnw::util::printLine(tnw::util::ConsoleStream::Output,
                         tnw::util::ConsoleColour::Normal,
                         "Invalid Plexmill architecture");
}

// Microseconds a new connection may take for its handshake line, and then again for its first
// command: clients send both at once, and a connection that sends neither must not hold a
// thread and a descriptor for ever.
constexpr std::uint32_t kGreetingTimeout = 10'000'000;

void markAdmitted(Session& session) {
    tnw::util::Lock lock(tnw::util::globalLock());
    if (!session.admitted && session.server().unadmittedSessions > 0) {
        --session.server().unadmittedSessions;
    }
    session.admitted = true;
}

// Whether the command loop goes on after a command.
enum class Next { Continue, EndLoop };

Next runCommand(Session& session, Command command, const std::string& line) {
    switch (command) {
    case Command::Revision:
        handleRevision(session);
        break;
    case Command::Run:
        handleRun(session);
        break;
    case Command::Application:
        handleApplication(session);
        break;
    case Command::User:
        handleUser(session);
        break;
    case Command::Arch:
        handleArch(session);
        break;
    case Command::Available:
        answer(session, server::isAccepting(session.server()));
        break;
    case Command::UsageInfo:
        handleUsageInfo(session);
        break;
    case Command::Info:
        handleInfo(session);
        break;
    case Command::SessionInfo:
        handleSessionInfo(session);
        break;
    case Command::SessionHistory:
        handleSessionHistory(session);
        break;
    case Command::AcceptRemote:
        answer(session, keepsUploadedKernels(server::settings()));
        break;
    case Command::IsFileCached:
        handleIsFileCached(session);
        break;
    case Command::IsCached:
        handleIsCached(session);
        break;
    case Command::Measure:
        handleMeasure(session);
        break;
    case Command::Kernel:
        handleKernel(session);
        break;
    case Command::FileCache:
        handleFileCache(session);
        break;
    case Command::File:
        handleFile(session);
        break;
    case Command::IsAlive:
        answer(session, true);
        break;
    case Command::Done:
        session.sendText(protocol::kAck);
        session.setStatus("Success");
        return Next::EndLoop;
    case Command::Abort:
        session.aborted = true;
        session.sendText(protocol::kAck);
        return Next::EndLoop;
    case Command::Unknown:
        session.refuseCommand(line);
        break;
    }
    return Next::Continue;
}

// The command phase; false when the session is to end at once.
bool runCommands(Session& session) {
    tnw::util::Thread self = tnw::util::Thread::current();
    bool first = true;
    while (!session.terminated) {
        session.updateCpuTime(self.cpuTime());
        session.updateTraffic();
        std::string line = session.readCommandLine(first ? kGreetingTimeout : tnw::util::kInfinite);
        if (line.empty()) {
            break;
        }
        if (std::exchange(first, false)) {
            markAdmitted(session);
        }
        Command command = protocol::parseCommand(line);
        if (protocol::isEchoedInDebug(command)) {
            session.printReceived(line, true);
        }
        Next next = runCommand(session, command, line);
        if (session.refused()) {
            return false;
        }
        if (next == Next::EndLoop) {
            break;
        }
    }
    return true;
}

} // namespace

void dispatch(Session& session) {
    if (!session.createFolder()) {
        session.closeSession();
        return;
    }
    std::string first = session.readLine(kGreetingTimeout);
    if (!protocol::isHandshake(first)) {
        session.printVerbose("Invalid client connection.", false);
        return;
    }
    session.sendText(first + "\n");
    if (!runCommands(session) || session.aborted) {
        return;
    }
    if (session.jobSession && server::settings().debug && !tnw::util::outputOptions().serviceMode) {
        session.info(
            tnw::util::format("Session %1 using %2 bytes.", session.number, session.dataSize));
    }
    if (!session.jobLoaded) {
        session.updateTraffic();
        session.shutdownSend();
        session.readLine();
        session.closeSession();
        return;
    }
    session.waitForCacheCopies();
    runKernelPhase(session);
}

} // namespace plexmill::session
