// Mutexes, manual-reset events and waiting on several descriptors at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "util/handle.hpp"

namespace tnw::util {

// Time-outs are unsigned 32-bit microsecond counts; this value waits for ever.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFU;

// Single waits and sleeps round up to whole milliseconds.
constexpr std::int64_t roundUpToMilliseconds(std::uint32_t microseconds) {
    return microseconds == kInfinite ? -1 : (std::int64_t{microseconds} + 999) / 1000;
}
// waitForAny truncates.
constexpr std::int64_t truncateToMilliseconds(std::uint32_t microseconds) {
    return microseconds == kInfinite ? -1 : std::int64_t{microseconds} / 1000;
}

// A mutex that its holder may lock again. Empty until create(); then lock/unlock work.
class Mutex {
public:
    // False when this instance already holds a mutex.
    bool create();
    bool isValid() const { return mutex_ != nullptr; }
    void lock();
    void unlock();

private:
    std::shared_ptr<std::recursive_mutex> mutex_;
};

class Lock {
public:
    explicit Lock(Mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    ~Lock() { mutex_.unlock(); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    Mutex& mutex_;
};

// The process-wide lock over the server's shared state; created on first use.
Mutex& globalLock();

// A manual-reset event: set() keeps it signalled until reset(). Its handle is an eventfd, so
// it can be waited on together with sockets.
class Event {
public:
    bool create();
    bool isValid() const { return handle_.isValid(); }
    void set();
    void reset();
    bool isSet() const;
    bool wait(std::uint32_t timeout) const;
    const Handle& handle() const { return handle_; }
    void close() { handle_.close(); }

private:
    Handle handle_;
};

// Waits for one handle to be signalled, the time-out rounded up to whole milliseconds.
bool waitForHandle(const Handle& handle, std::uint32_t timeout);

// Waits until the descriptor is ready for `events` (poll(2) events; an error or a hang-up
// counts as ready), the time-out rounded up to whole milliseconds. False on time-out.
bool waitForDescriptor(int fd, short events, std::uint32_t timeout);

// Waits until one of the handles is readable (signalled). Empty entries are skipped, but the
// result is the 1-based position in the caller's list. With waitAll, 1 means all signalled.
// 0 on time-out, on failure, for a count outside 1..63, or when no entry holds a descriptor.
std::size_t waitForAny(const Handle* handles, std::size_t count, bool waitAll, std::uint32_t timeout);

// Waits as waitForAny does, then tells every handle that is signalled at that moment: bit
// (position - 1) for each. A loop that serves all of them in turn cannot let one busy handle
// starve those after it in the list. 0 on time-out or failure.
std::uint64_t signalledHandles(const Handle* handles, std::size_t count, std::uint32_t timeout);

// Allocates, resizes or frees a raw block; size 0 frees and returns null. Throws
// MemoryException "Failed to allocate memory." when the heap refuses; the old block then stays.
void* reallocate(void* pointer, std::size_t size);

} // namespace tnw::util
