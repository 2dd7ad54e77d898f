// Service mode: the server as the service supervisor sees it. It answers the controls STOP,
// PAUSE, CONTINUE, INTERROGATE and the reload request 128 on the control channel
// (util/service_control.hpp) and takes SIGTERM as STOP and SIGHUP as 128; it reports its
// state to whoever asks and, when systemd started it, to systemd.
//
// States: start pending until the server's start phase is over, then running; paused and
// running alternate with PAUSE and CONTINUE; stop pending from STOP until the server has
// stopped. Pausing keeps the server's sockets open; it only refuses new work.
#pragma once

#include "service/server/run_control.hpp"
#include "util/console_manager.hpp"
#include "util/service_control.hpp"
#include "util/sync.hpp"
#include "util/thread.hpp"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace plexmill::server {

class ServiceRunControl : public RunControl, public tnw::util::ConsoleManager::ConsoleListener {
public:
    ServiceRunControl() = default;
    // Stops answering; the owner removes it from the console listeners first.
    ~ServiceRunControl() override;
    ServiceRunControl(const ServiceRunControl&) = delete;
    ServiceRunControl& operator=(const ServiceRunControl&) = delete;

    // Creates the stop and reload events and takes the control channel's name. False when
    // another service already holds the name or the events cannot be made.
    bool open(const std::string& controlName);
    // Answers controls on a thread of its own from now on. False when it cannot start.
    bool startAnswering();
    // The server has ended: the state is stopped, and the channel closes.
    void reportStopped();

    // The control handler: what the service does with `control` from a peer that is, or is
    // not, root or the service's own user, and the state it reports back.
    tnw::util::ServiceControlReply handleControl(std::uint32_t control, bool privileged);
    tnw::util::ServiceState state() const { return state_.load(); }

    const tnw::util::Handle& stopHandle() const override { return stopEvent_.handle(); }
    bool stopRequested() const override { return stopRequested_.load(); }
    bool paused() const override { return paused_.load(); }
    bool serviceMode() const override { return true; }
    const tnw::util::Handle& reloadHandle() const override { return reloadEvent_.handle(); }
    void resetReload() override { reloadEvent_.reset(); }
    void serverReady() override;

    void onConsoleSignal(tnw::util::ConsoleSignal signal) override;

private:
    void answerControls();
    // Sets the state; `notice` is what systemd is told of it.
    void report(tnw::util::ServiceState state, const char* notice);

    std::mutex controlMutex_; // one control at a time: the channel's thread and the signals'
    std::atomic<tnw::util::ServiceState> state_{tnw::util::ServiceState::StartPending};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> paused_{false};
    tnw::util::Event stopEvent_;
    tnw::util::Event reloadEvent_;
    tnw::util::Event quit_; // ends the channel's thread
    tnw::util::ServiceControlListener listener_;
    tnw::util::Thread thread_;
};

} // namespace plexmill::server
