// The polling thread: one session connection to the local server, and about once a second
// AVAILABLE, INFO, SESSION_INFO for each open session and SESSION_HISTORY for the sessions
// finished since the last look, turned into the MonitorState the tray shows.
#pragma once

#include "monitor/monitor_client.hpp"
#include "monitor/monitor_state.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace plexmill::monitor {

// Servers before this revision do not answer SESSION_HISTORY; their lists are never shown.
inline constexpr std::uint32_t kHistoryRevision = 28890;

struct PollOptions {
    std::string address = "127.0.0.1:7387";
    std::chrono::milliseconds cyclePause{1000};
    // After a failed connection attempt.
    std::chrono::milliseconds backoffPause{5000};
    // While no server runs on this machine.
    std::chrono::milliseconds notRunningPause{5000};
    // Milliseconds a reply may take. A server that accepts the connection but stops answering
    // then shows as not responding instead of as the state it last reported.
    std::uint32_t receiveTimeout = 10'000;
    // Whether a server runs on this machine; by default, whether its instance name is held.
    std::function<bool()> serverRunning;
};

// Polls until state.requestQuit(). Never throws.
void pollLoop(MonitorState& state, MonitorClient& client, const PollOptions& options);

// pollLoop on a thread of its own, from start() until stop() or destruction.
class Poller {
public:
    Poller(MonitorState& state, PollOptions options);
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    void start();
    // Asks the loop to end, ends a read it is blocked in, and waits for the thread.
    void stop();

private:
    MonitorState& state_;
    PollOptions options_;
    MonitorClient client_;
    std::thread thread_;
};

} // namespace plexmill::monitor
