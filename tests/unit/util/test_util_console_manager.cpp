#include "util/console_manager.hpp"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <pthread.h>
#include <signal.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tnw::util {
namespace {

using namespace std::chrono_literals;

template <class Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds deadline = 10s) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class Recorder : public ConsoleManager::ConsoleListener {
public:
    explicit Recorder(std::vector<const Recorder*>* order = nullptr) : order_(order) {}
    void onConsoleInterrupt() override {
        if (order_ != nullptr) {
            order_->push_back(this);
        }
        count.fetch_add(1);
    }
    std::atomic<int> count{0};

private:
    std::vector<const Recorder*>* order_;
};

TEST(ConsoleManager, NotifiesListenersInAddressOrder) {
    std::vector<const Recorder*> order;
    Recorder recorders[3] = {Recorder(&order), Recorder(&order), Recorder(&order)};
    ConsoleManager::addListener(&recorders[2]);
    ConsoleManager::addListener(&recorders[0]);
    ConsoleManager::addListener(&recorders[1]);
    ConsoleManager::addListener(&recorders[1]); // a set: once only
    ConsoleManager::notifyInterrupt();
    ConsoleManager::removeListener(&recorders[1]);
    ConsoleManager::notifyInterrupt();
    ConsoleManager::removeListener(&recorders[0]);
    ConsoleManager::removeListener(&recorders[2]);
    ASSERT_EQ(order.size(), 5U);
    EXPECT_EQ(order[0], &recorders[0]);
    EXPECT_EQ(order[1], &recorders[1]);
    EXPECT_EQ(order[2], &recorders[2]);
    EXPECT_EQ(order[3], &recorders[0]);
    EXPECT_EQ(order[4], &recorders[2]);
}

TEST(ConsoleManager, SelfListenerRecordsAndRemovesItselfWhenDestroyed) {
    Recorder survivor;
    ConsoleManager::addListener(&survivor);
    {
        ConsoleManager::SelfConsoleListener listener;
        EXPECT_FALSE(listener.interrupted);
        ConsoleManager::addListener(&listener);
        ConsoleManager::notifyInterrupt();
        EXPECT_TRUE(listener.interrupted);
    }
    ConsoleManager::notifyInterrupt(); // would touch the destroyed listener if still listed
    ConsoleManager::removeListener(&survivor);
    EXPECT_EQ(survivor.count.load(), 2);
}

TEST(ConsoleManager, ListenerMayRemoveItselfAndOthersWhileNotified) {
    struct Remover : ConsoleManager::ConsoleListener {
        ConsoleManager::ConsoleListener* other = nullptr;
        int calls = 0;
        void onConsoleInterrupt() override {
            ++calls;
            ConsoleManager::removeListener(this);
            ConsoleManager::removeListener(other);
        }
    };
    // Members lie in declaration order, so `before` precedes the remover and `after` follows.
    struct Layout {
        Recorder before;
        Remover remover;
        Recorder after;
    };
    for (bool removeAfter : {false, true}) {
        SCOPED_TRACE(removeAfter);
        Layout layout;
        Recorder& other = removeAfter ? layout.after : layout.before;
        layout.remover.other = &other;
        ConsoleManager::addListener(&layout.remover);
        ConsoleManager::addListener(&other);
        ConsoleManager::notifyInterrupt();
        ConsoleManager::notifyInterrupt();
        EXPECT_EQ(layout.remover.calls, 1);
        // Called once when ahead of the remover; never once the remover took it out.
        EXPECT_EQ(other.count.load(), removeAfter ? 0 : 1);
    }
}

bool interruptsBlocked() {
    sigset_t mask;
    ::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return ::sigismember(&mask, SIGINT) == 1 && ::sigismember(&mask, SIGTERM) == 1 &&
           ::sigismember(&mask, SIGHUP) == 1;
}

TEST(ConsoleManager, RealSignalsReachListenersWithoutEndingTheProcess) {
    ASSERT_FALSE(interruptsBlocked());
    ASSERT_TRUE(ConsoleManager::install());
    ASSERT_TRUE(ConsoleManager::install()); // a second call changes nothing
    EXPECT_TRUE(interruptsBlocked());

    ConsoleManager::SelfConsoleListener listener;
    Recorder counter;
    ConsoleManager::addListener(&listener);
    ConsoleManager::addListener(&counter);
    ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
    EXPECT_TRUE(waitUntil([&] { return listener.interrupted.load(); }));
    EXPECT_TRUE(waitUntil([&] { return counter.count.load() == 1; }));
    // Each signal is delivered before the next is sent, so none can merge with another.
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        int expected = counter.count.load() + 1;
        ASSERT_EQ(::kill(::getpid(), signal), 0);
        EXPECT_TRUE(waitUntil([&] { return counter.count.load() == expected; })) << signal;
    }
    // A thread started after install inherits the blocked signals.
    bool blockedInThread = false;
    std::thread([&] { blockedInThread = interruptsBlocked(); }).join();
    EXPECT_TRUE(blockedInThread);

    ConsoleManager::removeListener(&counter);
    ConsoleManager::removeListener(&listener);
    ConsoleManager::uninstall();
    EXPECT_FALSE(interruptsBlocked());
    ConsoleManager::uninstall(); // harmless when not installed
}

TEST(ConsoleManager, ListenersThatAskAreToldWhichSignalCame) {
    struct Signals : ConsoleManager::ConsoleListener {
        void onConsoleSignal(ConsoleSignal signal) override { seen.push_back(signal); }
        std::vector<ConsoleSignal> seen;
    } signals;
    Recorder interrupts;
    ConsoleManager::addListener(&signals);
    ConsoleManager::addListener(&interrupts);
    ConsoleManager::notifySignal(ConsoleSignal::Terminate);
    ConsoleManager::notifySignal(ConsoleSignal::HangUp);
    ConsoleManager::notifyInterrupt();
    ConsoleManager::removeListener(&interrupts);
    ConsoleManager::removeListener(&signals);
    EXPECT_EQ(signals.seen,
              (std::vector<ConsoleSignal>{
                  ConsoleSignal::Terminate, ConsoleSignal::HangUp, ConsoleSignal::Interrupt}));
    EXPECT_EQ(interrupts.count.load(), 3);
}

TEST(ConsoleManager, RemovalWaitsForADeliveryInProgress) {
    struct Slow : ConsoleManager::ConsoleListener {
        std::atomic<bool> entered{false};
        std::atomic<bool> finished{false};
        void onConsoleInterrupt() override {
            entered = true;
            std::this_thread::sleep_for(50ms); // the window in which removal must wait
            finished = true;
        }
    };
    auto slow = std::make_unique<Slow>();
    ConsoleManager::addListener(slow.get());
    std::thread notifier([] { ConsoleManager::notifyInterrupt(); });
    ASSERT_TRUE(waitUntil([&] { return slow->entered.load(); }));
    ConsoleManager::removeListener(slow.get());
    EXPECT_TRUE(slow->finished.load());
    slow.reset(); // safe: the delivery is over
    notifier.join();
}

} // namespace
} // namespace tnw::util
