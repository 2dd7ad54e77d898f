#include "util/command.hpp"

#include "util/exception.hpp"
#include "util/output_stream.hpp"
#include "util/pipe.hpp"
#include "util/process.hpp"
#include "util/sync.hpp"
#include "util/windows_error.hpp"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace tnw::util {

namespace {

// The parent's ends of the three pipes while the child runs; an end is closed once its
// direction is finished.
struct ParentEnds {
    Handle input;
    Handle output;
    Handle error;
};

bool setNonBlocking(const Handle& handle) {
    int flags = ::fcntl(handle.fd(), F_GETFL);
    return flags >= 0 && ::fcntl(handle.fd(), F_SETFL, flags | O_NONBLOCK) == 0;
}

// Appends what can be read now; closes the end at end of file or on an error.
void drain(Handle& end, std::string& into) {
    char buffer[16384];
    for (;;) {
        ssize_t got = ::read(end.fd(), buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno == EAGAIN) {
            return;
        }
        end.close();
        return;
    }
}

// Writes what the pipe takes now; closes the end once everything is written or the child
// stopped reading (a child that ignores its input must not kill us with SIGPIPE).
void feed(Handle& end, const std::string& input, std::size_t& written) {
    HandleOutputStream stream(end);
    try {
        while (written < input.size()) {
            written += stream.write(input.data() + written, input.size() - written);
        }
    } catch (const IOException& failure) {
        if (failure.getCode() == error::kWouldBlock) {
            return;
        }
    }
    end.close();
}

} // namespace

CommandResult runCommand(const std::vector<std::string>& arguments,
                         const std::string& input,
                         std::uint32_t timeout) {
    CommandResult result;
    Pipe toChild;
    Pipe fromChild;
    Pipe errorsFromChild;
    for (Pipe* pipe : {&toChild, &fromChild, &errorsFromChild}) {
        if (std::uint32_t problem = pipe->create(false)) {
            result.error = problem;
            return result;
        }
    }
    ProcessOptions options;
    options.arguments = arguments;
    options.handles.input = toChild.readEnd();
    options.handles.output = fromChild.writeEnd();
    options.handles.error = errorsFromChild.writeEnd();
    options.ownProcessGroup = true;
    Process child = Process::start(options, &result.error);
    // Only the child may hold these ends now, or the reads below would never see the end.
    toChild.readEnd().close();
    fromChild.writeEnd().close();
    errorsFromChild.writeEnd().close();
    if (!child.isValid() || !child.resume()) {
        if (result.error == 0) {
            result.error = error::kFileNotFound;
        }
        child.terminate();
        return result;
    }
    result.started = true;

    ParentEnds ends{toChild.writeEnd(), fromChild.readEnd(), errorsFromChild.readEnd()};
    for (Handle* end : {&ends.input, &ends.output, &ends.error}) {
        setNonBlocking(*end);
    }
    if (input.empty()) {
        ends.input.close();
    }
    std::size_t written = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(timeout);
    while (ends.input.isValid() || ends.output.isValid() || ends.error.isValid()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        pollfd watched[3] = {{ends.input.fd(), POLLOUT, 0},
                             {ends.output.fd(), POLLIN, 0},
                             {ends.error.fd(), POLLIN, 0}};
        int ready = ::poll(watched, 3, static_cast<int>(left.count()) + 1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            result.timedOut = true; // cannot watch the child any more: end it like a time-out
            break;
        }
        if (watched[0].revents != 0) {
            feed(ends.input, input, written);
        }
        if (watched[1].revents != 0) {
            drain(ends.output, result.output);
        }
        if (watched[2].revents != 0) {
            drain(ends.error, result.errors);
        }
    }
    if (result.timedOut) {
        child.terminate();
    }
    child.wait(kInfinite);
    result.exitCode = child.exitCode().value_or(kTerminatedExitCode);
    return result;
}

} // namespace tnw::util
