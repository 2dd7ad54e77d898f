#include "service/server/service_run_control.hpp"

#include "util/systemd_notify.hpp"

namespace plexmill::server {

namespace {

using tnw::util::ServiceControlReply;
using tnw::util::ServiceState;
namespace control = tnw::util::service_control;
namespace error = tnw::util::service_error;

// How long a peer may take to send its control once connected; controls are served one after
// the other, so a silent peer must not hold the others up for long.
constexpr std::uint32_t kRequestTimeout = 1'000'000; // microseconds

} // namespace

ServiceRunControl::~ServiceRunControl() {
    quit_.set();
    if (thread_.isValid()) {
        thread_.wait(tnw::util::kInfinite);
    }
}

bool ServiceRunControl::open(const std::string& controlName) {
    if (!stopEvent_.create() || !reloadEvent_.create() || !quit_.create()) {
        return false;
    }
    listener_ = tnw::util::ServiceControlListener::open(controlName);
    return listener_.isValid();
}

bool ServiceRunControl::startAnswering() {
    if (!thread_.start([this]() -> std::uint32_t {
            try {
                answerControls();
            } catch (...) {
                // The service still stops on SIGTERM; only the channel is gone.
            }
            return 0;
        })) {
        return false;
    }
    return thread_.resume();
}

void ServiceRunControl::answerControls() {
    const tnw::util::Handle handles[] = {quit_.handle(), listener_.handle()};
    while (tnw::util::waitForAny(handles, 2, false, tnw::util::kInfinite) == 2) {
        listener_.serveOne(
            [this](std::uint32_t code, const tnw::util::ServiceControlPeer& peer) {
                return handleControl(code, peer.privileged);
            },
            kRequestTimeout);
    }
}

void ServiceRunControl::reportStopped() {
    {
        std::lock_guard lock(controlMutex_);
        state_.store(ServiceState::Stopped);
    }
    quit_.set();
    if (thread_.isValid()) {
        thread_.wait(tnw::util::kInfinite);
    }
    listener_.close();
}

void ServiceRunControl::report(ServiceState state, const char* notice) {
    state_.store(state);
    tnw::util::SystemdNotifier::notify(notice);
}

void ServiceRunControl::serverReady() {
    std::lock_guard lock(controlMutex_);
    if (state_.load() == ServiceState::StartPending) {
        report(ServiceState::Running, "READY=1\nSTATUS=Running");
    }
}

ServiceControlReply ServiceRunControl::handleControl(std::uint32_t code, bool privileged) {
    std::lock_guard lock(controlMutex_);
    ServiceState now = state_.load();
    if (code == control::kInterrogate) {
        return {0, now};
    }
    if (!privileged) {
        return {error::kAccessDenied, now};
    }
    // A stopping or stopped service takes nothing more; one that is still starting can only be
    // stopped (as systemd does when a start takes too long).
    if (now == ServiceState::StopPending || now == ServiceState::Stopped ||
        (now == ServiceState::StartPending && code != control::kStop)) {
        return {error::kCannotAcceptControl, now};
    }
    switch (code) {
    case control::kStop:
        report(ServiceState::StopPending, "STOPPING=1\nSTATUS=Stopping");
        // The flag first: the loop the event wakes must already see why it woke.
        stopRequested_.store(true);
        stopEvent_.set();
        break;
    case control::kPause:
        paused_.store(true);
        report(ServiceState::Paused, "STATUS=Paused: no new work is taken");
        break;
    case control::kContinue:
        paused_.store(false);
        report(ServiceState::Running, "STATUS=Running");
        break;
    case control::kFirstUserDefined: // the reload request
        reloadEvent_.set();
        break;
    default:
        if (code < control::kFirstUserDefined || code > control::kLastUserDefined) {
            return {error::kInvalidControl, now};
        }
        break; // the service's own controls that it has no use for
    }
    return {0, state_.load()};
}

void ServiceRunControl::onConsoleSignal(tnw::util::ConsoleSignal signal) {
    handleControl(signal == tnw::util::ConsoleSignal::HangUp ? control::kFirstUserDefined
                                                             : control::kStop,
                  true);
}

} // namespace plexmill::server
