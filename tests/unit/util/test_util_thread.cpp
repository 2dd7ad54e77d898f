#include "util/sync.hpp"
#include "util/thread.hpp"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace tnw::util {
namespace {

constexpr std::uint32_t kLongWait = 10000000; // 10 s, only ever reached by a fault

std::uint64_t threadCpuMicroseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000U +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000U;
}

// Spends `microseconds` of the calling thread's own processor time, however loaded the
// machine is.
void burnCpu(std::uint64_t microseconds) {
    std::uint64_t end = threadCpuMicroseconds() + microseconds;
    while (threadCpuMicroseconds() < end) {
    }
}

TEST(Thread, RunsOnlyAfterResumeAndKeepsItsExitCode) {
    std::atomic<bool> ran{false};
    Thread thread;
    std::uint64_t id = 0;
    ASSERT_TRUE(thread.start(
        [&] {
            ran = true;
            return 42U;
        },
        &id));
    EXPECT_NE(id, 0U);
    EXPECT_EQ(id, thread.id());
    EXPECT_FALSE(thread.wait(50000));
    EXPECT_FALSE(ran);
    EXPECT_FALSE(thread.exitCode().has_value());
    EXPECT_FALSE(thread.start([] { return 0U; })); // already holds a thread
    ASSERT_TRUE(thread.resume());
    EXPECT_FALSE(thread.resume());
    ASSERT_TRUE(thread.wait(kLongWait));
    EXPECT_TRUE(ran);
    EXPECT_EQ(thread.exitCode(), 42U);
    Handle ended = thread.handle();
    EXPECT_EQ(waitForAny(&ended, 1, false, 0), 1U);
}

TEST(Thread, TerminateBeforeResumeEndsItWithoutRunningTheBody) {
    std::atomic<bool> ran{false};
    Thread thread;
    ASSERT_TRUE(thread.start([&] {
        ran = true;
        return 0U;
    }));
    EXPECT_TRUE(thread.terminate());
    ASSERT_TRUE(thread.wait(kLongWait));
    EXPECT_FALSE(ran);
    EXPECT_EQ(thread.exitCode(), 1U);
    EXPECT_FALSE(thread.resume());
}

TEST(Thread, ARunningThreadCannotBeEndedFromOutside) {
    Event release;
    ASSERT_TRUE(release.create());
    Thread thread;
    ASSERT_TRUE(thread.start([&] {
        release.wait(kInfinite);
        return 7U;
    }));
    ASSERT_TRUE(thread.resume());
    EXPECT_FALSE(thread.terminate());
    release.set();
    ASSERT_TRUE(thread.wait(kLongWait));
    EXPECT_EQ(thread.exitCode(), 7U);
}

TEST(Thread, DroppingEveryReferenceBeforeResumeLetsTheThreadGo) {
    std::atomic<bool> ran{false};
    Handle ended;
    {
        Thread thread;
        ASSERT_TRUE(thread.start([&] {
            ran = true;
            return 0U;
        }));
        ended = thread.handle();
    }
    EXPECT_EQ(waitForAny(&ended, 1, false, kLongWait), 1U);
    EXPECT_FALSE(ran);
}

TEST(Thread, AnEscapingExceptionEndsOnlyThatThread) {
    Thread thread;
    ASSERT_TRUE(thread.start([]() -> std::uint32_t { throw std::runtime_error("lost"); }));
    thread.resume();
    ASSERT_TRUE(thread.wait(kLongWait));
    EXPECT_EQ(thread.exitCode(), 1U);
}

TEST(Thread, CpuTimeCountsTheThreadsOwnWorkAndStaysAfterItsEnd) {
    Thread thread;
    ASSERT_TRUE(thread.start([] {
        burnCpu(40000);
        return 0U;
    }));
    EXPECT_LT(thread.cpuTime(), 20000U); // still at the gate
    thread.resume();
    ASSERT_TRUE(thread.wait(kLongWait));
    std::uint64_t spent = thread.cpuTime();
    EXPECT_GE(spent, 40000U);
    EXPECT_LT(spent, 1000000U);
    EXPECT_EQ(thread.cpuTime(), spent);

    Thread self = Thread::current();
    EXPECT_EQ(self.id(), static_cast<std::uint64_t>(::gettid()));
    std::uint64_t before = self.cpuTime();
    burnCpu(20000);
    EXPECT_GT(self.cpuTime(), before);
    EXPECT_FALSE(self.wait(0));
    EXPECT_FALSE(self.resume());
    EXPECT_FALSE(self.terminate());
}

TEST(Thread, PrioritiesMapToNiceValues) {
    Event release;
    ASSERT_TRUE(release.create());
    Thread thread;
    ASSERT_TRUE(thread.start([&] {
        release.wait(kInfinite);
        return 0U;
    }));
    EXPECT_EQ(thread.priority(), thread_priority::kNormal);
    ASSERT_TRUE(thread.setPriority(thread_priority::kLowest));
    EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(thread.id())), 10);
    EXPECT_EQ(thread.priority(), thread_priority::kLowest);
    ASSERT_TRUE(thread.setPriority(thread_priority::kIdle));
    EXPECT_EQ(thread.priority(), thread_priority::kIdle);
    thread.resume();
    release.set();
    ASSERT_TRUE(thread.wait(kLongWait));
    EXPECT_FALSE(thread.setPriority(thread_priority::kNormal));
}

TEST(Thread, SleepWaitsAtLeastTheRoundedUpTime) {
    auto start = std::chrono::steady_clock::now();
    Thread::sleep(1500); // rounds up to 2 ms
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2));
}

TEST(TimeCriticalScope, RestoresThePriorityItRaised) {
    Thread thread;
    std::atomic<int> inside{100};
    std::atomic<int> after{100};
    ASSERT_TRUE(thread.start([&] {
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 3);
        {
            TimeCriticalScope critical;
            inside = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
        }
        after = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
        return 0U;
    }));
    thread.resume();
    ASSERT_TRUE(thread.wait(kLongWait));
    EXPECT_EQ(after, 3);
    // Raising needs privileges; without them the scope leaves the priority alone.
    EXPECT_EQ(inside, ::geteuid() == 0 ? -20 : 3);
}

} // namespace
} // namespace tnw::util
