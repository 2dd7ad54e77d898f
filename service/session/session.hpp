// One client connection of the session protocol: its socket, its folder, its line and reply
// rules, and the state its commands build up. What other threads may read of it lives in the
// SessionState base; everything declared here belongs to the session's own thread (and, during
// the kernel phase, to the watcher for reading), unless a comment says otherwise.
#pragma once

#include "service/server/manager.hpp"
#include "service/server/session_state.hpp"
#include "util/file_stream.hpp"
#include "util/output_stream.hpp"
#include "util/socket.hpp"
#include "util/spliced_receive.hpp"
#include "util/thread.hpp"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace plexmill::session {

class Session : public server::SessionState {
public:
    // Microseconds a client may leave a reply unread before its session ends as disconnected:
    // a client that asks for data and never reads it must not hold the session's thread.
    static constexpr std::uint32_t kSendTimeout = 30'000'000;

    // Takes the id, number and start time; the caller registers the session with the server.
    Session(server::Manager& server, tnw::util::Socket connection, server::PeerAddress peer);
    ~Session() override;

    server::Manager& server() const { return server_; }

    // Any thread: shuts both directions down, so that a read or write the session thread is
    // blocked in ends at once. The descriptor itself is closed by the session thread
    // (closeSession), so no thread is ever left holding a descriptor number that was reused.
    void close() override;

    // The session thread: makes the session's folder, private to the server's user. A name
    // that exists already is never taken over: false, after reporting it as a session error.
    bool createFolder();

    // The session thread: closes the connection (later replies raise "Not connection.") and
    // removes the folder it made — with the keep option only when it is empty. Repeating it is
    // harmless.
    void closeSession();

    // The next line without its LF. Empty at the end of the stream and when 1024 characters
    // came without an LF (the rest stays unread). A broken connection raises
    // EndOfStreamException, a timed-out one IOTimedOutException, other failures IOException;
    // so does a line that has not come whole within `timeout` microseconds.
    std::string readLine(std::uint32_t timeout = tnw::util::kInfinite);
    // readLine with the waiting state set, which SESSION_INFO reports as "WAITING".
    std::string readCommandLine(std::uint32_t timeout = tnw::util::kInfinite);

    // Writes every byte; IOException "Not connection." once the connection is closed, and
    // IOTimedOutException when the client takes nothing for kSendTimeout.
    void sendText(std::string_view text);
    // One send: the bytes the connection took (at least one), IOTimedOutException as for
    // sendText.
    std::size_t sendSome(const void* buffer, std::size_t size);
    // Microseconds sendText and sendSome wait for the client to make room (kInfinite: as long
    // as it takes). The session's own thread changes it.
    std::uint32_t sendTimeout() const { return sendTimeout_; }
    void setSendTimeout(std::uint32_t timeout) { sendTimeout_ = timeout; }
    // One move of at most `size` bytes of a pipe's waiting output to the client, inside the
    // system: the bytes moved, 0 once the pipe is empty and has no writer. Waits for the client
    // to make room as long as it takes (the kernel relay has its own rule for a client that
    // stops reading); throws as sendText does.
    std::size_t spliceFrom(const tnw::util::Handle& pipe, std::size_t size);
    // Receives `size` bytes of bulk data into the file inside the system, and the same bytes
    // into `digest` (when not null) on a thread of its own; throws as
    // tnw::util::receiveSpliced does.
    tnw::util::SplicedReceipt receiveInto(tnw::util::FileOutputStream& file,
                                          std::uint64_t size,
                                          tnw::util::OutputStream* digest);
    // Half-closes the sending side: the client sees the end of the server's data.
    void shutdownSend();

    // Copies the connection's byte counters into the session and adds what they grew by to
    // the server's totals.
    void updateTraffic();
    // The session thread's CPU time so far; the session's CPU time never decreases.
    void updateCpuTime(std::uint64_t threadCpuTime);

    // Sets the outcome shown in the history (under the global lock).
    void setStatus(std::string status);
    // A failed command: the status, and the command loop ends at its next turn.
    void terminate(std::string status);
    // The line was no command of the protocol: says so (verbose) and ends the session at once,
    // without a reply and without a kernel run.
    void refuseCommand(std::string_view line);
    bool refused() const { return refused_; }

    // Console lines of this session, printed only in console mode.
    // Red, with the session prefix unless told otherwise, when verbose output is on.
    void printVerbose(std::string_view text, bool withPrefix = true) const;
    // Red, with the session prefix, when debug output is on.
    void printDebug(std::string_view text) const;
    // Yellow "Got command '...'." when debug output is on; with the session prefix if asked.
    void printReceived(std::string_view line, bool withPrefix) const;
    // Session messages: bright blue on the console, information or error events as a service.
    void info(std::string_view text) const;
    void error(std::string_view text) const;

    // Set by the starter before the thread runs; released when the session ends (global lock).
    tnw::util::Thread thread;

    bool terminated = false;
    bool disconnected = false;
    bool jobLoaded = false;
    std::string jobFile;
    std::uint32_t clientRevision = 0;
    std::uint64_t dataSize = 0; // bytes announced by FILE and FILE_CACHE
    std::set<std::string> fileNames;
    // Received files the server is still taking into its file cache: they must stay as they
    // are until copied (see waitForCacheCopies).
    std::vector<std::shared_ptr<server::FileCacheIntake::Ticket>> cacheCopies;

    // Returns once the file cache has copied every file this session handed to it; called
    // before the kernel may touch the session folder and before the folder goes.
    void waitForCacheCopies();

private:
    server::Manager& server_;
    tnw::util::Socket connection_; // never reassigned, so other threads may shut it down
    std::mutex connectionMutex_;   // orders close() against closeSession()
    bool open_ = true;             // guarded by connectionMutex_
    bool refused_ = false;
    std::uint32_t sendTimeout_ = kSendTimeout; // microseconds
    bool ownsFolder_ = false; // createFolder made it, so closeSession may remove it
};

} // namespace plexmill::session
