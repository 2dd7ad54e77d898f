#include "service/server/monitor_thread.hpp"

#include "service/server/capacity.hpp"
#include "util/console.hpp"

namespace plexmill::server {

MonitorThread::MonitorThread(Manager& manager) {
    if (!end_.create() || !thread_.start([&manager, end = end_.handle()]() -> std::uint32_t {
            monitorThread(manager, end);
            return 0;
        })) {
        tnw::util::printError("Failed to create thread.");
        return;
    }
    thread_.setPriority(tnw::util::thread_priority::kHighest);
    thread_.resume();
}

MonitorThread::~MonitorThread() {
    stop();
}

void MonitorThread::stop() {
    if (!thread_.isValid()) {
        return;
    }
    end_.set();
    thread_.wait(tnw::util::kInfinite);
}

} // namespace plexmill::server
