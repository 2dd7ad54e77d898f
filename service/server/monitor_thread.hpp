// The monitor thread (capacity.hpp) for the length of one server run. It reads the Manager, so
// it must end before the Manager goes: stop(), or the destructor on any way out of the run (a
// failed start, an error), tells it to end and waits until it has. The thread only ever waits
// with a time-out, so it always comes back to see that it is told to end; nothing needs to end it
// by force.
#pragma once

#include "util/sync.hpp"
#include "util/thread.hpp"

namespace plexmill::server {

class Manager;

class MonitorThread {
public:
    // Starts the thread at the highest priority; prints an error when it cannot.
    explicit MonitorThread(Manager& manager);
    ~MonitorThread();
    MonitorThread(const MonitorThread&) = delete;
    MonitorThread& operator=(const MonitorThread&) = delete;

    // Returns once the thread has ended; repeating it is harmless.
    void stop();

private:
    tnw::util::Event end_;
    tnw::util::Thread thread_;
};

} // namespace plexmill::server
