// What the tray icon and its tooltip say about the local server: one of seven states, chosen
// every second from what the polling thread and the machine report.
#pragma once

#include "monitor/monitor_state.hpp"
#include "monitor/service_probe.hpp"

#include <cstdint>
#include <string>

namespace plexmill::monitor {

// The icon images, by the numbers of the Windows resources they stand for.
enum class TrayIcon : std::uint32_t {
    kReady = 5,
    kNotResponding = 6, // also "Not accepting requests"
    kRunning = 7,
    kRunningAlternate = 8,
    kNotAccepting = 9,
    kNotAcceptingAlternate = 10,
    kPaused = 11,
    kStopped = 12,
};

struct ServerFacts {
    bool serverRunning = false; // its instance name is held
    bool servicePaused = false; // the running service reports itself paused
    bool responded = false;
    bool accepting = false;
    std::size_t activeSessions = 0;
    std::uint64_t totalSessions = 0;
};

// What the tray knows at this moment; the service is only asked when a server runs.
ServerFacts readServerFacts(ServiceProbe& probe, const MonitorState& state);

struct TrayStatus {
    std::string stateText;
    TrayIcon icon = TrayIcon::kStopped;
    std::string toolTip; // at most kMaximumToolTip characters
};

// The tip field of a tray icon holds 127 characters and its terminator.
inline constexpr std::size_t kMaximumToolTip = 127;

// Alternates the frames of the two busy states, once per call while the state lasts.
class TrayAnimation {
public:
    TrayStatus next(const ServerFacts& facts);

private:
    std::uint32_t running_ = 0;
    std::uint32_t notAccepting_ = 0;
};

} // namespace plexmill::monitor
