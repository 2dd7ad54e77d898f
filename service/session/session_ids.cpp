#include "service/session/session_ids.hpp"

#include "util/clock.hpp"
#include "util/thread.hpp"

#include <atomic>
#include <utility>

namespace plexmill::session {

SessionIds::SessionIds(Counter counter, Pause pause)
    : counter_(std::move(counter)), pause_(std::move(pause)) {}

std::int64_t SessionIds::next() {
    std::int64_t id = counter_();
    while (last_ && id <= *last_) {
        pause_();
        id = counter_();
    }
    last_ = id;
    return id;
}

SessionIds& sessionIds() {
    static SessionIds ids(
        [] { return static_cast<std::int64_t>(tnw::util::monotonicMicroseconds()); },
        [] { tnw::util::Thread::sleep(1000); });
    return ids;
}

std::uint32_t nextSessionNumber() {
    static std::atomic<std::uint32_t> counter{0};
    return ++counter;
}

} // namespace plexmill::session
