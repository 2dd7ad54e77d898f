#include "service/session/session.hpp"

#include "service/protocol/session_commands.hpp"
#include "service/server/session_folders.hpp"
#include "service/server/settings.hpp"
#include "service/session/session_ids.hpp"
#include "util/clock.hpp"
#include "util/console.hpp"
#include "util/exception.hpp"
#include "util/files.hpp"
#include "util/format.hpp"
#include "util/private_folder.hpp"
#include "util/sync.hpp"
#include "util/windows_error.hpp"

#include <utility>

namespace plexmill::session {

namespace {

using tnw::util::ConsoleColour;
using tnw::util::ConsoleStream;

// Clears the waiting state however the read ends.
class WaitingScope {
public:
    explicit WaitingScope(Session& session) : session_(session) { set(true); }
    ~WaitingScope() { set(false); }
    WaitingScope(const WaitingScope&) = delete;
    WaitingScope& operator=(const WaitingScope&) = delete;

private:
    void set(bool waiting) {
        tnw::util::Lock lock(tnw::util::globalLock());
        session_.waiting = waiting;
    }
    Session& session_;
};

} // namespace

Session::Session(server::Manager& server, tnw::util::Socket connection, server::PeerAddress peer)
    : server_(server), connection_(std::move(connection)) {
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        id = sessionIds().next();
    }
    number = nextSessionNumber();
    folder = tnw::util::joinPath(server.config.intermediateFolder, server::sessionFolderName(id));
    startTime = tnw::util::Time::now();
    this->peer = peer;
}

Session::~Session() = default;

void Session::close() {
    std::lock_guard lock(connectionMutex_);
    if (open_) {
        connection_.shutdownReceive();
        connection_.shutdownSend();
    }
}

void Session::closeSession() {
    {
        std::lock_guard lock(connectionMutex_);
        if (open_) {
            open_ = false;
            connection_.shutdownReceive();
            connection_.shutdownSend();
            connection_.close();
        }
    }
    waitForCacheCopies();
    if (!ownsFolder_ || !tnw::util::isFolder(folder)) {
        return;
    }
    if (!server::settings().keep || tnw::util::listFiles(folder).empty()) {
        tnw::util::removeFolder(folder);
    }
}

bool Session::createFolder() {
    std::uint32_t failure = tnw::util::createFreshFolder(folder);
    if (failure == tnw::util::error::kPathNotFound) {
        // The intermediate folder went while the server ran (a clean-up of the temporary
        // folder): made again, privately, as at the start.
        try {
            tnw::util::preparePrivateFolder(server_.config.intermediateFolder);
            failure = tnw::util::createFreshFolder(folder);
        } catch (const tnw::util::Exception& refusal) {
            error(refusal.getMessage());
        }
    }
    if (failure != 0) {
        error(tnw::util::format(
            "Unable to create the session folder '%1' (error %2).", folder, failure));
        return false;
    }
    ownsFolder_ = true;
    return true;
}

void Session::waitForCacheCopies() {
    for (const auto& ticket : cacheCopies) {
        ticket->waitUntilCopied();
    }
    cacheCopies.clear();
}

std::string Session::readLine(std::uint32_t timeout) {
    std::uint64_t deadline =
        timeout == tnw::util::kInfinite ? 0 : tnw::util::monotonicMicroseconds() + timeout;
    std::string line;
    while (line.size() <= protocol::kMaximumLineLength) {
        char c = 0;
        std::size_t received = 0;
        if (deadline == 0) {
            received = connection_.receive(&c, 1);
        } else {
            std::uint64_t now = tnw::util::monotonicMicroseconds();
            auto left = static_cast<std::uint32_t>(deadline > now ? deadline - now : 0);
            received = connection_.receiveWithin(&c, 1, left);
        }
        if (received == 0) {
            return {};
        }
        if (c == '\n') {
            return line;
        }
        line += c;
    }
    return {};
}

std::string Session::readCommandLine(std::uint32_t timeout) {
    WaitingScope waiting(*this);
    return readLine(timeout);
}

void Session::sendText(std::string_view text) {
    if (!connection_.isValid()) {
        tnw::util::raise(tnw::util::IOException("Not connection."));
    }
    connection_.sendAll(text.data(), text.size(), sendTimeout_);
}

std::size_t Session::sendSome(const void* buffer, std::size_t size) {
    if (!connection_.isValid()) {
        tnw::util::raise(tnw::util::IOException("Not connection."));
    }
    return connection_.sendWithin(buffer, size, sendTimeout_);
}

std::size_t Session::spliceFrom(const tnw::util::Handle& pipe, std::size_t size) {
    if (!connection_.isValid()) {
        tnw::util::raise(tnw::util::IOException("Not connection."));
    }
    return connection_.spliceFrom(pipe, size);
}

tnw::util::SplicedReceipt Session::receiveInto(tnw::util::FileOutputStream& file,
                                               std::uint64_t size,
                                               tnw::util::OutputStream* digest) {
    return tnw::util::receiveSpliced(connection_, file, size, digest);
}

void Session::shutdownSend() {
    connection_.shutdownSend();
}

void Session::updateTraffic() {
    const auto* counters = connection_.handle().impl();
    if (counters == nullptr) {
        return;
    }
    std::uint64_t received = counters->bytesRead.load();
    std::uint64_t sent = counters->bytesWritten.load();
    tnw::util::Lock lock(tnw::util::globalLock());
    server_.statistics.dataReceived += received - bytesReceived;
    server_.statistics.dataSent += sent - bytesSent;
    bytesReceived = received;
    bytesSent = sent;
}

void Session::updateCpuTime(std::uint64_t threadCpuTime) {
    tnw::util::Lock lock(tnw::util::globalLock());
    if (threadCpuTime > cpuTime) {
        cpuTime = threadCpuTime;
    }
}

void Session::setStatus(std::string text) {
    tnw::util::Lock lock(tnw::util::globalLock());
    status = std::move(text);
}

void Session::terminate(std::string text) {
    setStatus(std::move(text));
    terminated = true;
}

void Session::refuseCommand(std::string_view line) {
    printVerbose(std::string("Invalid command: '").append(line).append("'."));
    refused_ = true;
}

void Session::printVerbose(std::string_view text, bool withPrefix) const {
    if (server::settings().verbose) {
        std::string line = withPrefix ? tnw::util::sessionPrefix(number) : std::string();
        tnw::util::printLine(ConsoleStream::Output, ConsoleColour::Error, line.append(text));
    }
}

void Session::printDebug(std::string_view text) const {
    if (server::settings().debug) {
        tnw::util::printLine(ConsoleStream::Output,
                             ConsoleColour::Error,
                             tnw::util::sessionPrefix(number).append(text));
    }
}

void Session::printReceived(std::string_view line, bool withPrefix) const {
    if (server::settings().debug) {
        std::string text = withPrefix ? tnw::util::sessionPrefix(number) : std::string();
        text.append("Got command '").append(line).append("'.");
        tnw::util::printLine(ConsoleStream::Output, ConsoleColour::Debug, text);
    }
}

void Session::info(std::string_view text) const {
    tnw::util::printSessionInfo(number, text);
}

void Session::error(std::string_view text) const {
    tnw::util::printSessionError(number, text);
}

} // namespace plexmill::session
