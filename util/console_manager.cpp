#include "util/console_manager.hpp"

#include "util/handle.hpp"
#include "util/sync.hpp"

#include <mutex>
#include <pthread.h>
#include <set>
#include <signal.h>
#include <sys/signalfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tnw::util {

namespace {

// Recursive, so that a listener may remove itself while it is being notified.
std::recursive_mutex listenersMutex;
std::set<ConsoleManager::ConsoleListener*> listeners; // guarded by listenersMutex

struct SignalThread {
    std::mutex mutex;
    bool installed = false; // the rest is guarded by mutex and valid while installed
    sigset_t previousMask{};
    Handle signals; // signalfd of the interrupt signals
    Event stop;
    std::thread thread;
};

SignalThread signalThread;

sigset_t interruptSignals() {
    sigset_t set;
    ::sigemptyset(&set);
    ::sigaddset(&set, SIGINT);
    ::sigaddset(&set, SIGTERM);
    ::sigaddset(&set, SIGHUP);
    return set;
}

ConsoleSignal signalOf(int number) {
    switch (number) {
    case SIGTERM:
        return ConsoleSignal::Terminate;
    case SIGHUP:
        return ConsoleSignal::HangUp;
    default:
        return ConsoleSignal::Interrupt;
    }
}

void takeSignals(const Handle& signals, const Event& stop) {
    const Handle handles[] = {stop.handle(), signals};
    for (;;) {
        if (waitForAny(handles, 2, false, kInfinite) != 2) {
            return; // stopped, or the wait itself failed
        }
        signalfd_siginfo info;
        ssize_t got = ::read(signals.fd(), &info, sizeof info);
        if (got == static_cast<ssize_t>(sizeof info)) {
            ConsoleManager::notifySignal(signalOf(static_cast<int>(info.ssi_signo)));
        }
    }
}

} // namespace

ConsoleManager::SelfConsoleListener::~SelfConsoleListener() {
    removeListener(this);
}

void ConsoleManager::addListener(ConsoleListener* listener) {
    std::lock_guard lock(listenersMutex);
    listeners.insert(listener);
}

void ConsoleManager::removeListener(ConsoleListener* listener) {
    std::lock_guard lock(listenersMutex);
    listeners.erase(listener);
}

void ConsoleManager::notifyInterrupt() {
    notifySignal(ConsoleSignal::Interrupt);
}

void ConsoleManager::notifySignal(ConsoleSignal signal) {
    std::lock_guard lock(listenersMutex);
    // A listener may change the set while it is notified; those it removed are skipped.
    std::vector<ConsoleListener*> snapshot(listeners.begin(), listeners.end());
    for (ConsoleListener* listener : snapshot) {
        if (listeners.count(listener) == 0) {
            continue;
        }
        try {
            listener->onConsoleSignal(signal);
        } catch (...) {
            // One failing listener must not keep the interrupt from the others.
        }
    }
}

bool ConsoleManager::install() {
    std::lock_guard lock(signalThread.mutex);
    if (signalThread.installed) {
        return true;
    }
    sigset_t set = interruptSignals();
    sigset_t previous;
    if (::pthread_sigmask(SIG_BLOCK, &set, &previous) != 0) {
        return false;
    }
    Handle signals(::signalfd(-1, &set, SFD_CLOEXEC));
    Event stop;
    if (signals && stop.create()) {
        try {
            signalThread.thread = std::thread([signals, stop] {
                try {
                    takeSignals(signals, stop);
                } catch (...) {
                    // Nothing to report to; the interrupts stay blocked and undelivered.
                }
            });
            signalThread.previousMask = previous;
            signalThread.signals = signals;
            signalThread.stop = stop;
            signalThread.installed = true;
            return true;
        } catch (const std::system_error&) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return false;
}

void ConsoleManager::uninstall() {
    std::lock_guard lock(signalThread.mutex);
    if (!signalThread.installed) {
        return;
    }
    signalThread.stop.set();
    signalThread.thread.join();
    signalThread.signals.close();
    signalThread.stop.close();
    signalThread.installed = false;
    ::pthread_sigmask(SIG_SETMASK, &signalThread.previousMask, nullptr);
}

} // namespace tnw::util
