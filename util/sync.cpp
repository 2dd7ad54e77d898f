#include "util/sync.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "util/clock.hpp"
#include "util/exception.hpp"

namespace tnw::util {

bool Mutex::create() {
    if (mutex_) {
        return false;
    }
    mutex_ = std::make_shared<std::recursive_mutex>();
    return true;
}

void Mutex::lock() {
    if (mutex_) {
        mutex_->lock();
    }
}

void Mutex::unlock() {
    if (mutex_) {
        mutex_->unlock();
    }
}

Mutex& globalLock() {
    static Mutex* mutex = [] {
        auto* created = new Mutex; // lives until the process ends; threads may outlive main
        created->create();
        return created;
    }();
    return *mutex;
}

bool Event::create() {
    if (handle_.isValid()) {
        return false;
    }
    int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    handle_ = Handle(fd);
    return true;
}

void Event::set() {
    int fd = handle_.fd();
    if (fd >= 0) {
        std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(fd, &one, sizeof one);
    }
}

void Event::reset() {
    int fd = handle_.fd();
    if (fd >= 0) {
        std::uint64_t value = 0;
        [[maybe_unused]] auto drained = ::read(fd, &value, sizeof value);
    }
}

bool Event::isSet() const { return wait(0); }


namespace {

// How long the next poll may wait for a wait that began at `start` (monotonic µs). While a
// test drives the clock, waits go in short slices so that moving the clock ends them.
int remainingMilliseconds(std::int64_t timeoutMs, std::uint64_t start) {
    if (timeoutMs < 0) {
        return clockShiftEnabled() ? kShiftedWaitSliceMs : -1;
    }
    auto spent = static_cast<std::int64_t>((monotonicMicroseconds() - start) / 1000);
    int remaining = spent >= timeoutMs ? 0 : static_cast<int>(timeoutMs - spent);
    return clockShiftEnabled() && remaining > kShiftedWaitSliceMs ? kShiftedWaitSliceMs : remaining;
}

// A poll that returned 0 only ends the wait when the (possibly shifted) deadline has passed.
bool deadlinePassed(std::int64_t timeoutMs, std::uint64_t start) {
    return timeoutMs >= 0 && static_cast<std::int64_t>((monotonicMicroseconds() - start) / 1000) >= timeoutMs;
}

} // namespace

bool Event::wait(std::uint32_t timeout) const { return waitForHandle(handle_, timeout); }

bool waitForHandle(const Handle& handle, std::uint32_t timeout) {
    return handle.isValid() && waitForDescriptor(handle.fd(), POLLIN, timeout);
}

bool waitForDescriptor(int descriptor, short events, std::uint32_t timeout) {
    if (descriptor < 0) {
        return false;
    }
    pollfd fd{descriptor, events, 0};
    std::int64_t timeoutMs = roundUpToMilliseconds(timeout);
    std::uint64_t start = monotonicMicroseconds();
    for (;;) {
        int ready = ::poll(&fd, 1, remainingMilliseconds(timeoutMs, start));
        if ((ready < 0 && errno == EINTR) || (ready == 0 && !deadlinePassed(timeoutMs, start))) {
            continue;
        }
        return ready > 0;
    }
}

std::size_t waitForAny(const Handle* handles, std::size_t count, bool waitAll, std::uint32_t timeout) {
    if (handles == nullptr || count < 1 || count > 63) {
        return 0;
    }
    std::vector<pollfd> fds;
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < count; ++i) {
        if (handles[i].isValid()) {
            fds.push_back({handles[i].fd(), POLLIN, 0});
            positions.push_back(i + 1);
        }
    }
    if (fds.empty()) {
        return 0;
    }
    std::int64_t timeoutMs = truncateToMilliseconds(timeout);
    std::uint64_t start = monotonicMicroseconds();
    for (;;) {
        int ready = ::poll(fds.data(), fds.size(), remainingMilliseconds(timeoutMs, start));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 0;
        }
        if (ready == 0) {
            if (deadlinePassed(timeoutMs, start)) {
                return 0;
            }
            continue;
        }
        if (!waitAll) {
            for (std::size_t i = 0; i < fds.size(); ++i) {
                if (fds[i].revents != 0) {
                    return positions[i];
                }
            }
            continue;
        }
        // Wait for the rest while keeping the ones already signalled out of the poll set.
        std::vector<pollfd> pending;
        for (auto& fd : fds) {
            if (fd.revents == 0) {
                pending.push_back({fd.fd, POLLIN, 0});
            }
        }
        if (pending.empty()) {
            return 1;
        }
        fds = std::move(pending);
    }
}

std::uint64_t signalledHandles(const Handle* handles, std::size_t count, std::uint32_t timeout) {
    if (waitForAny(handles, count, false, timeout) == 0) {
        return 0;
    }
    std::uint64_t signalled = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (handles[i].isValid() && waitForDescriptor(handles[i].fd(), POLLIN, 0)) {
            signalled |= std::uint64_t{1} << i;
        }
    }
    return signalled;
}

void* reallocate(void* pointer, std::size_t size) {
    if (size == 0) {
        std::free(pointer);
        return nullptr;
    }
    void* block = pointer == nullptr ? std::malloc(size) : std::realloc(pointer, size);
    if (block == nullptr) {
        raise(MemoryException("Failed to allocate memory."));
    }
    return block;
}

} // namespace tnw::util
