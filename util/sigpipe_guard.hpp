// Keeps a write to a pipe or socket whose reader has gone from killing the process.
#pragma once

#include <cerrno>
#include <pthread.h>
#include <signal.h>
#include <time.h>

namespace tnw::util {

// SIGPIPE is blocked on this thread while the guard lives, and one that the guarded calls raised
// is taken off again, so the caller sees EPIPE (or, when a send took some bytes before the
// peer went, the count). Nothing changes for the rest of the process.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
        alreadyPending_ = isPending();
    }
    ~SigpipeGuard() {
        if (!alreadyPending_ && isPending()) {
            timespec zero{};
            while (sigtimedwait(&pipeOnly_, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    static bool isPending() {
        sigset_t pending;
        sigpending(&pending);
        return sigismember(&pending, SIGPIPE) == 1;
    }

    sigset_t pipeOnly_{};
    sigset_t previous_{};
    bool alreadyPending_ = false;
};

} // namespace tnw::util
