// The server: its configuration, its sessions and their history, its statistics and the lists
// it keeps about the network. One Manager exists while the server runs.
//
// Everything here that several threads use is guarded by the process-wide global lock
// (tnw::util::globalLock()), except what is atomic: counters written by one thread only, the
// CPU usage sample and the stop flag.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "service/server/discovery_answers.hpp"
#include "service/server/file_cache.hpp"
#include "service/server/file_cache_intake.hpp"
#include "service/server/known_servers.hpp"
#include "service/server/records.hpp"
#include "service/server/run_control.hpp"
#include "service/server/server_settings.hpp"
#include "service/server/session_state.hpp"
#include "util/console_manager.hpp"
#include "util/socket.hpp"
#include "util/sync.hpp"

namespace plexmill::server {

struct Statistics {
    std::uint64_t dataReceived = 0; // bytes
    std::uint64_t dataSent = 0;
    std::uint64_t elapsedTime = 0;    // microseconds
    std::uint64_t processingTime = 0; // microseconds
    std::uint64_t failures = 0;
    tnw::util::Time lastFailure;
};

// Console mode: Ctrl+C (and SIGTERM, SIGHUP) stop the server.
class ConsoleRunControl : public RunControl {
public:
    bool create() { return stopEvent_.create(); }
    void requestStop();
    const tnw::util::Handle& stopHandle() const override { return stopEvent_.handle(); }
    bool stopRequested() const override { return stopRequested_.load(); }
    bool paused() const override { return false; }
    bool serviceMode() const override { return false; }

private:
    tnw::util::Event stopEvent_;
    std::atomic<bool> stopRequested_{false};
};

class Manager : public tnw::util::ConsoleManager::ConsoleListener {
public:
    // Hands an admitted, blocking connection to a new session; false when no session could be
    // started (the connection is then closed).
    using SessionStarter = std::function<bool(Manager&, tnw::util::Socket, PeerAddress)>;
    // The status site: serves each accepted HTTP connection on a thread of its own.
    class HttpServer {
    public:
        virtual ~HttpServer() = default;
        // Returns at once; the Manager must outlive the connection threads.
        virtual void serve(Manager& manager, tnw::util::Socket connection) = 0;
        // True once no connection is being served; microseconds.
        virtual bool waitUntilIdle(std::uint32_t timeout) const = 0;
    };

    // `service` is the service manager's control in service mode, null in a console.
    explicit Manager(RunControl* service = nullptr);
    ~Manager() override;
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    // The whole life of the server: false when the start failed, true after an orderly stop.
    bool run();

    void onConsoleInterrupt() override;

    // Console mode's stop event; true in service mode, where the service owns it.
    bool createStopEvent();

    const RunControl& control() const {
        return service_ != nullptr ? *service_ : static_cast<const RunControl&>(console_);
    }
    bool serviceMode() const { return control().serviceMode(); }
    bool stopRequested() const { return control().stopRequested(); }

    // The listed sessions that passed RUN's busy check.
    std::uint32_t countJobSessions() const;
    // Under the global lock: the session passed RUN's busy check.
    void markJobSession(SessionState& session);
    std::size_t openSessions() const;

    SessionStarter startSession;
    std::shared_ptr<HttpServer> http;

    // Loaded at start; read-only while the main loop runs.
    ServerSettings config;

    // Guarded by the global lock.
    bool sessionsChanged = true;
    SessionList sessions;
    // Under the global lock: appends the session, or removes it (once listed, else nothing).
    void listSession(std::shared_ptr<SessionState> session);
    void unlistSession(SessionState& session);
    // Of those, the ones not admitted yet: the accept loop looks for waiting connections only
    // when there may be too many, not with every connection.
    std::size_t unadmittedSessions = 0;
    std::deque<SessionRecord> history;
    std::uint32_t totalSessions = 0;
    Statistics statistics;
    KnownServers knownServers;
    std::deque<RequestRecord> recentRequests;
    FileCache fileCache;
    // Has its own lock; runs from the start of the main loop until every session has ended.
    FileCacheIntake fileCacheIntake;
    // Kernel GUID -> time of its last successful upload.
    std::map<std::string, tnw::util::Time> kernelUploads;
    // Kernel GUID -> uploads into its folder in progress (KernelUpload, kernel_cache.hpp).
    std::map<std::string, std::uint32_t> kernelsReceiving;
    // Has its own lock; runs while the main loop does.
    DiscoveryAnswers discoveryAnswers;

    // Written by one thread, read by any.
    std::atomic<std::uint64_t> numberOfTCPRequests{0};
    std::atomic<std::uint64_t> numberOfUDPRequests{0};
    std::atomic<double> cpuUsage{0.0};

private:
    RunControl& runControl() { return service_ != nullptr ? *service_ : console_; }

    tnw::util::Handle instance_; // this server's single-instance name, held for the whole run
    RunControl* service_;
    ConsoleRunControl console_;
    std::uint32_t listedJobSessions_ = 0; // guarded by the global lock
};

// Creates a Manager with the program's session and HTTP hand-overs, runs it, and returns 0
// after an orderly stop, 1 after a failed start or an error that ended the run.
int runServer(const std::function<void(Manager&)>& wire, RunControl* service = nullptr);

} // namespace plexmill::server
