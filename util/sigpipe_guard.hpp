// Keeps a write to a pipe or socket whose reader has gone from killing the process.
#pragma once

#include <cerrno>
#include <pthread.h>
#include <signal.h>
#include <time.h>

namespace tnw::util {

// SIGPIPE is blocked on this thread while the guard lives, and a SIGPIPE the guarded call
// raised (say so with brokenPipe) is taken off again, so the caller sees EPIPE. Nothing changes
// for the rest of the process.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
        sigset_t pending;
        sigpending(&pending);
        alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeGuard() {
        if (raised_ && !alreadyPending_) {
            timespec zero{};
            while (sigtimedwait(&pipeOnly_, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;
    void brokenPipe() { raised_ = true; }

private:
    sigset_t pipeOnly_{};
    sigset_t previous_{};
    bool alreadyPending_ = false;
    bool raised_ = false;
};

} // namespace tnw::util
