#include "monitor/tray_status.hpp"

#include "util/version.hpp"

namespace plexmill::monitor {

namespace {

std::string countText(std::uint64_t count) {
    return count == 0 ? "None" : std::to_string(count);
}

} // namespace

ServerFacts readServerFacts(ServiceProbe& probe, const MonitorState& state) {
    ServerFacts facts;
    facts.serverRunning = probe.serverRunning();
    facts.servicePaused = facts.serverRunning && probe.reportsPaused();
    facts.responded = state.responded;
    facts.accepting = state.accepting;
    facts.activeSessions = state.activeCount();
    facts.totalSessions = state.totalSessions;
    return facts;
}

TrayStatus TrayAnimation::next(const ServerFacts& facts) {
    TrayStatus status;
    if (!facts.serverRunning) {
        status = {"Stopped", TrayIcon::kStopped, {}};
    } else if (facts.servicePaused) {
        status = {"Paused", TrayIcon::kPaused, {}};
    } else if (!facts.responded) {
        status = {"Not responding", TrayIcon::kNotResponding, {}};
    } else if (facts.accepting && facts.activeSessions > 0) {
        bool even = running_++ % 2 == 0;
        status = {"Running", even ? TrayIcon::kRunningAlternate : TrayIcon::kRunning, {}};
    } else if (facts.accepting) {
        status = {"Ready", TrayIcon::kReady, {}};
    } else if (facts.activeSessions > 0) {
        bool even = notAccepting_++ % 2 == 0;
        status = {"Not accepting further requests",
                  even ? TrayIcon::kNotAcceptingAlternate : TrayIcon::kNotAccepting,
                  {}};
    } else {
        status = {"Not accepting requests", TrayIcon::kNotResponding, {}};
    }
    status.toolTip = std::string(tnw::util::kProductName) + "\nStatus: " + status.stateText +
                     "\nActive Sessions: " + countText(facts.activeSessions) +
                     "\nTotal Sessions: " + countText(facts.totalSessions);
    if (status.toolTip.size() > kMaximumToolTip) {
        status.toolTip.resize(kMaximumToolTip);
    }
    return status;
}

} // namespace plexmill::monitor
