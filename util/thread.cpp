#include "util/thread.hpp"

#include "util/clock.hpp"

#include "util/sync.hpp"

#include <cerrno>
#include <condition_variable>
#include <chrono>
#include <mutex>
#include <pthread.h>
#include <sys/resource.h>
#include <system_error>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace tnw::util {

namespace {

constexpr std::uint32_t kAbnormalExitCode = 1;

struct PriorityStep {
    int priority;
    int nice;
    int lowestNice; // nice values from here up map back to this priority
};

constexpr PriorityStep kPrioritySteps[] = {
    {thread_priority::kIdle, 19, 15},
    {thread_priority::kLowest, 10, 8},
    {thread_priority::kBelowNormal, 5, 3},
    {thread_priority::kNormal, 0, -2},
    {thread_priority::kAboveNormal, -5, -7},
    {thread_priority::kHighest, -10, -15},
    {thread_priority::kTimeCritical, -20, -20},
};

int niceOf(int priority) {
    for (const auto& step : kPrioritySteps) {
        if (priority <= step.priority) {
            return step.nice;
        }
    }
    return -20;
}

int priorityOf(int nice) {
    for (const auto& step : kPrioritySteps) {
        if (nice >= step.lowestNice) {
            return step.priority;
        }
    }
    return thread_priority::kTimeCritical;
}

std::optional<int> threadNice(pid_t tid) {
    errno = 0;
    int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (nice == -1 && errno != 0) {
        return std::nullopt;
    }
    return nice;
}

std::uint64_t microsecondsOf(const timespec& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * 1000000U +
           static_cast<std::uint64_t>(time.tv_nsec) / 1000U;
}

std::uint64_t clockMicroseconds(clockid_t clock) {
    timespec now{};
    return ::clock_gettime(clock, &now) == 0 ? microsecondsOf(now) : 0;
}

} // namespace

struct Thread::State {
    std::mutex mutex;
    std::condition_variable changed;
    enum class Gate { held, open, cancelled } gate = Gate::held;
    pid_t tid = 0;
    pthread_t thread{};
    bool isCaller = false; // a State made by current(): no gate, no end
    bool finished = false;
    std::uint32_t exitCode = 0;
    std::uint64_t finalCpuTime = 0;
    // Made by the first handle(), not at the start: a server with thousands of idle sessions
    // would otherwise hold a descriptor per thread that nothing waits on.
    Event done;
    Body body;
};

// Held only by Thread objects, never by the thread itself: when the last one goes, a thread
// still at its start gate is let go without running.
struct Thread::Owner {
    explicit Owner(std::shared_ptr<State> state) : state(std::move(state)) {}
    ~Owner() {
        std::lock_guard lock(state->mutex);
        if (state->gate == State::Gate::held) {
            state->gate = State::Gate::cancelled;
            state->changed.notify_all();
        }
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    std::shared_ptr<State> state;
};

void Thread::run(const std::shared_ptr<State>& state) {
    bool cancelled = false;
    {
        std::unique_lock lock(state->mutex);
        state->tid = ::gettid();
        state->thread = ::pthread_self();
        state->changed.notify_all();
        state->changed.wait(lock, [&] { return state->gate != State::Gate::held; });
        cancelled = state->gate == State::Gate::cancelled;
    }
    std::uint32_t code = kAbnormalExitCode;
    if (!cancelled) {
        try {
            code = state->body();
        } catch (...) {
            // Thread bodies report their own failures; whatever escapes ends only this thread.
            code = kAbnormalExitCode;
        }
    }
    Body finishedBody;
    {
        std::lock_guard lock(state->mutex);
        finishedBody = std::move(state->body);
    }
    finishedBody = nullptr; // the body's captures go before anyone learns of the end
    {
        std::lock_guard lock(state->mutex);
        state->exitCode = code;
        state->finalCpuTime = clockMicroseconds(CLOCK_THREAD_CPUTIME_ID);
        state->finished = true;
        if (state->done.isValid()) {
            state->done.set();
        }
        state->changed.notify_all();
    }
}

bool Thread::start(Body body, std::uint64_t* threadId) {
    if (state_ || !body) {
        return false;
    }
    auto state = std::make_shared<State>();
    state->body = std::move(body);
    try {
        std::thread([state] { run(state); }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    {
        std::unique_lock lock(state->mutex);
        state->changed.wait(lock, [&] { return state->tid != 0; });
    }
    state_ = state;
    owner_ = std::make_shared<Owner>(state);
    if (threadId != nullptr) {
        *threadId = id();
    }
    return true;
}

bool Thread::resume() {
    if (!state_) {
        return false;
    }
    std::lock_guard lock(state_->mutex);
    if (state_->gate != State::Gate::held) {
        return false;
    }
    state_->gate = State::Gate::open;
    state_->changed.notify_all();
    return true;
}

bool Thread::wait(std::uint32_t timeout) const {
    if (!state_ || state_->isCaller) {
        return false;
    }
    // The thread marks its end under this lock: taking it orders everything the thread did
    // before whatever the caller does next.
    std::unique_lock lock(state_->mutex);
    auto finished = [this] { return state_->finished; };
    if (timeout == kInfinite) {
        state_->changed.wait(lock, finished);
        return true;
    }
    return state_->changed.wait_for(lock, std::chrono::microseconds(timeout), finished);
}

bool Thread::terminate() {
    if (!state_) {
        return false;
    }
    std::lock_guard lock(state_->mutex);
    if (state_->gate != State::Gate::held) {
        return false;
    }
    state_->gate = State::Gate::cancelled;
    state_->changed.notify_all();
    return true;
}

std::uint64_t Thread::cpuTime() const {
    if (!state_) {
        return 0;
    }
    std::lock_guard lock(state_->mutex);
    if (state_->finished) {
        return state_->finalCpuTime;
    }
    // Not finished: the thread cannot pass its end under this lock, so its clock is valid.
    clockid_t clock{};
    if (::pthread_getcpuclockid(state_->thread, &clock) != 0) {
        return 0;
    }
    return clockMicroseconds(clock);
}

bool Thread::setPriority(int priority) {
    if (!state_) {
        return false;
    }
    std::lock_guard lock(state_->mutex);
    if (state_->finished) {
        return false;
    }
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(state_->tid), niceOf(priority)) == 0;
}

int Thread::priority() const {
    if (!state_) {
        return thread_priority::kNormal;
    }
    std::lock_guard lock(state_->mutex);
    auto nice = state_->finished ? std::nullopt : threadNice(state_->tid);
    return nice ? priorityOf(*nice) : thread_priority::kNormal;
}

std::optional<std::uint32_t> Thread::exitCode() const {
    if (!state_) {
        return std::nullopt;
    }
    std::lock_guard lock(state_->mutex);
    return state_->finished ? std::optional(state_->exitCode) : std::nullopt;
}

Handle Thread::handle() const {
    if (!state_ || state_->isCaller) {
        return Handle();
    }
    std::lock_guard lock(state_->mutex);
    if (!state_->done.isValid()) {
        if (!state_->done.create()) {
            return Handle();
        }
        if (state_->finished) {
            state_->done.set();
        }
    }
    return state_->done.handle();
}

std::uint64_t Thread::id() const {
    if (!state_) {
        return 0;
    }
    std::lock_guard lock(state_->mutex);
    return static_cast<std::uint64_t>(state_->tid);
}

Thread Thread::current() {
    Thread caller;
    caller.state_ = std::make_shared<State>();
    caller.state_->isCaller = true;
    caller.state_->gate = State::Gate::open;
    caller.state_->tid = ::gettid();
    caller.state_->thread = ::pthread_self();
    return caller;
}

void Thread::sleep(std::uint32_t microseconds) {
    if (microseconds == kInfinite) {
        for (;;) {
            ::pause();
        }
    }
    std::int64_t milliseconds = roundUpToMilliseconds(microseconds);
    if (clockShiftEnabled()) {
        // A test drives the clock: sleep in slices until the shifted clock passes the deadline.
        std::uint64_t end = monotonicMicroseconds() + static_cast<std::uint64_t>(milliseconds) * 1000;
        while (monotonicMicroseconds() < end) {
            timespec slice{0, kShiftedWaitSliceMs * 1000000L};
            ::nanosleep(&slice, nullptr);
        }
        return;
    }
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

TimeCriticalScope::TimeCriticalScope() {
    auto nice = threadNice(::gettid());
    if (nice) {
        previousNice_ = *nice;
        raised_ = ::setpriority(PRIO_PROCESS,
                                static_cast<id_t>(::gettid()),
                                niceOf(thread_priority::kTimeCritical)) == 0;
    }
}

TimeCriticalScope::~TimeCriticalScope() {
    if (raised_) {
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), previousNice_);
    }
}

} // namespace tnw::util
