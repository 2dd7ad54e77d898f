// What the polling thread learns of the local server and the tray reads every second: the
// flags and the total, written by the polling thread alone and read without the lock, and the
// two session lists, which are only replaced or copied under the lock.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace plexmill::monitor {

// The recent list never holds more than this many texts.
inline constexpr std::size_t kMaximumRecentSessions = 20;

struct SessionLists {
    std::vector<std::string> active; // in the order of the server's INFO reply
    std::vector<std::string> recent; // newest first
};

class MonitorState {
public:
    // Written by the polling thread.
    std::atomic<bool> responded{false};
    std::atomic<bool> accepting{false};
    std::atomic<bool> httpAvailable{false};
    std::atomic<std::uint64_t> totalSessions{0};

    // Written by the tray: the menu is being built or shown (the icon then keeps still), and
    // the tray host came back, so the icon must be added again.
    std::atomic<bool> menuOpen{false};
    std::atomic<bool> reAddIcon{false};

    std::size_t activeCount() const;
    SessionLists lists() const;
    // A new connection starts from nothing.
    void clearLists();
    // The cycle's active list replaces the old one; each text of `newestFirst` (finished
    // sessions the server had not reported before) goes in front of the recent list, which keeps
    // its newest kMaximumRecentSessions texts.
    void handOver(std::vector<std::string> active, const std::vector<std::string>& newestFirst);

    // Asks the polling thread to end and wakes it from its pause.
    void requestQuit();
    bool quitRequested() const { return quit_.load(); }
    // Waits for the pause or until the quit is asked for; true when it was.
    bool waitForQuit(std::chrono::milliseconds pause);

private:
    mutable std::mutex lock_;
    std::vector<std::string> active_;
    std::deque<std::string> recent_;

    std::atomic<bool> quit_{false};
    std::mutex quitLock_;
    std::condition_variable quitSignal_;
};

} // namespace plexmill::monitor
