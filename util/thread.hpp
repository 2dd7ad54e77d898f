// Threads that start held until resumed, their priorities and times.
#pragma once

#include "util/handle.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tnw::util {

// Thread priorities in the scale peers and settings use, each mapped to a nice value.
namespace thread_priority {
inline constexpr int kIdle = -15;        // nice 19
inline constexpr int kLowest = -2;       // nice 10
inline constexpr int kBelowNormal = -1;  // nice 5
inline constexpr int kNormal = 0;        // nice 0
inline constexpr int kAboveNormal = 1;   // nice -5
inline constexpr int kHighest = 2;       // nice -10
inline constexpr int kTimeCritical = 15; // nice -20
} // namespace thread_priority

// A shared reference to a thread. Copies refer to the same thread; the thread keeps running
// when the last copy goes, except that a thread never resumed is then ended without running.
class Thread {
public:
    using Body = std::function<std::uint32_t()>;

    Thread() = default;

    // Creates a thread that waits at a start gate until resume(), so the caller can set its
    // priority first. The thread's exit code is what `body` returns; an exception escaping
    // `body` ends the thread with exit code 1, unreported. False when this Thread already
    // holds a thread or the system refuses a new one. `threadId` receives the kernel's id.
    bool start(Body body, std::uint64_t* threadId = nullptr);
    // Opens the start gate; false when there is nothing to resume.
    bool resume();
    bool isValid() const { return state_ != nullptr; }

    // True once the thread has ended; the time-out is in microseconds (kInfinite waits for
    // ever). The calling thread cannot wait for itself.
    bool wait(std::uint32_t timeout) const;
    // Ends a thread that has not been resumed yet: it never runs its body and its exit code
    // is 1. A running thread cannot be ended safely from outside on Linux (its locks and
    // resources would be left behind), so for it this returns false and nothing happens;
    // such a thread ends with the process.
    bool terminate();
    // Kernel plus user time of the thread in microseconds, also after it ended.
    std::uint64_t cpuTime() const;
    // Best effort: raising a priority needs privileges. False when it could not be set.
    bool setPriority(int priority);
    // The priority nearest to the thread's nice value; kNormal when it cannot be read.
    int priority() const;
    // The exit code once the thread has ended.
    std::optional<std::uint32_t> exitCode() const;
    // Readable (signalled) once the thread has ended, for waitForAny; made on the first call,
    // and empty when the system gives no descriptor for it.
    Handle handle() const;
    std::uint64_t id() const;

    // The calling thread. It cannot be resumed, waited for or ended through this object.
    static Thread current();
    // Sleeps for the time rounded up to whole milliseconds; kInfinite sleeps for ever.
    static void sleep(std::uint32_t microseconds);

private:
    struct State;
    struct Owner;
    static void run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
    std::shared_ptr<Owner> owner_;
};

// Raises the calling thread to the highest priority for the lifetime of the object and then
// restores what it had. Best effort: without privileges the priority stays as it was.
class TimeCriticalScope {
public:
    TimeCriticalScope();
    ~TimeCriticalScope();
    TimeCriticalScope(const TimeCriticalScope&) = delete;
    TimeCriticalScope& operator=(const TimeCriticalScope&) = delete;

private:
    int previousNice_ = 0;
    bool raised_ = false;
};

} // namespace tnw::util
