// Console interrupts (Ctrl+C in the terminal, SIGTERM, SIGHUP) delivered to the objects that
// asked for them. The signals are blocked in every thread and taken by one dedicated thread,
// so listeners run as ordinary code, never inside a signal handler. A console treats all three
// alike; a service tells them apart (SIGTERM stops it, SIGHUP asks it to reload).
#pragma once

#include <atomic>

namespace tnw::util {

// The signal behind an interrupt.
enum class ConsoleSignal {
    Interrupt, // SIGINT, Ctrl+C
    Terminate, // SIGTERM
    HangUp,    // SIGHUP
};

class ConsoleManager {
public:
    class ConsoleListener {
    public:
        virtual ~ConsoleListener() = default;
        // Called on the console manager's thread; keep it short.
        virtual void onConsoleInterrupt() {}
        // Every signal is an interrupt unless a listener wants to know which one came.
        virtual void onConsoleSignal(ConsoleSignal) { onConsoleInterrupt(); }
    };

    // Records the interrupt for a thread that checks between operations.
    class SelfConsoleListener : public ConsoleListener {
    public:
        SelfConsoleListener() = default;
        ~SelfConsoleListener() override;
        SelfConsoleListener(const SelfConsoleListener&) = delete;
        SelfConsoleListener& operator=(const SelfConsoleListener&) = delete;

        void onConsoleInterrupt() override { interrupted.store(true); }

        std::atomic<bool> interrupted{false};
    };

    // Listeners are called in address order. removeListener waits for a delivery in progress
    // on another thread, so a listener may be destroyed as soon as it returns; a listener may
    // remove itself (or another) from within onConsoleInterrupt.
    static void addListener(ConsoleListener* listener);
    static void removeListener(ConsoleListener* listener);

    // Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, and so in every thread it starts
    // later, and starts the thread that turns them into onConsoleInterrupt() calls. Call it
    // from main before any other thread exists; a second call does nothing. False when the
    // thread cannot be set up (the signals then keep their default action).
    static bool install();
    // Stops that thread and restores the calling thread's signal mask; for orderly teardown.
    static void uninstall();

    // Calls onConsoleSignal() on every registered listener, as the signal does.
    static void notifySignal(ConsoleSignal signal);
    // notifySignal(ConsoleSignal::Interrupt).
    static void notifyInterrupt();
};

} // namespace tnw::util
