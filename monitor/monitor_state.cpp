#include "monitor/monitor_state.hpp"

namespace plexmill::monitor {

std::size_t MonitorState::activeCount() const {
    std::lock_guard guard(lock_);
    return active_.size();
}

SessionLists MonitorState::lists() const {
    std::lock_guard guard(lock_);
    return {active_, {recent_.begin(), recent_.end()}};
}

void MonitorState::clearLists() {
    std::lock_guard guard(lock_);
    active_.clear();
    recent_.clear();
}

void MonitorState::handOver(std::vector<std::string> active,
                            const std::vector<std::string>& newestFirst) {
    std::lock_guard guard(lock_);
    active_ = std::move(active);
    // Oldest first, each in front of the last: the newest ends up at the top.
    for (auto text = newestFirst.rbegin(); text != newestFirst.rend(); ++text) {
        if (recent_.size() >= kMaximumRecentSessions) {
            recent_.pop_back();
        }
        recent_.push_front(*text);
    }
}

void MonitorState::requestQuit() {
    {
        std::lock_guard guard(quitLock_);
        quit_ = true;
    }
    quitSignal_.notify_all();
}

bool MonitorState::waitForQuit(std::chrono::milliseconds pause) {
    std::unique_lock guard(quitLock_);
    return quitSignal_.wait_for(guard, pause, [this] { return quit_.load(); });
}

} // namespace plexmill::monitor
