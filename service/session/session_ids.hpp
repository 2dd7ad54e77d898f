// The two names of a session: its id, which clients see and its folder is named after, taken
// from the high-resolution clock and unique within the process even for sessions created in
// the same tick; and its number, counted from 1, which the console shows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace plexmill::session {

class SessionIds {
public:
    using Counter = std::function<std::int64_t()>;
    using Pause = std::function<void()>;

    // `pause` waits a little before the counter is read again.
    SessionIds(Counter counter, Pause pause);

    // A counter reading later than the previous id's. Not thread-safe: the server calls it
    // under the global lock.
    std::int64_t next();

private:
    Counter counter_;
    Pause pause_;
    std::optional<std::int64_t> last_;
};

// The process's ids: the monotonic microsecond clock, 1 ms between readings that collide.
SessionIds& sessionIds();

// 1 for the first session of the process, then 2, 3, ...
std::uint32_t nextSessionNumber();

} // namespace plexmill::session
