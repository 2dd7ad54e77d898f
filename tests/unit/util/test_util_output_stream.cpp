#include "util/exception.hpp"
#include "util/output_stream.hpp"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

namespace tnw::util {
namespace {

class BareOutputStream : public OutputStream {};

TEST(OutputStream, DefaultsRefuseWithTheirMessages) {
    BareOutputStream stream;
    EXPECT_FALSE(stream.isOpen());
    EXPECT_FALSE(stream.canSeek());
    stream.flush();
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"Stream cannot be closed.", [&] { stream.close(); }},
        {"Seek not supported by stream.", [&] { stream.seek(0, 0); }},
        {"Write to stream is not supported.", [&] { stream.write("x", 1); }},
    };
    for (const auto& [message, call] : cases) {
        SCOPED_TRACE(message);
        try {
            call();
            FAIL();
        } catch (const IOException& failure) {
            EXPECT_EQ(failure.getMessage(), message);
        }
    }
}

TEST(HandleOutputStream, WriteToAPipeWithoutReaderEndsTheStreamNotTheProcess) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);
    HandleOutputStream stream{Handle(ends[1])};
    EXPECT_THROW(stream.write("x", 1), EndOfStreamException);
    // The thread's signal mask is as it was and no SIGPIPE is left waiting.
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    EXPECT_FALSE(sigismember(&mask, SIGPIPE));
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST(HandleOutputStream, CountsWritesAndWritesNothingOnceClosed) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    Handle reader(ends[0]);
    HandleOutputStream stream{Handle(ends[1])};
    EXPECT_TRUE(stream.isOpen());
    EXPECT_EQ(stream.write("hello", 5), 5U);
    EXPECT_EQ(stream.handle().impl()->bytesWritten.load(), 5U);
    char buffer[8];
    EXPECT_EQ(::read(reader.fd(), buffer, sizeof buffer), 5);
    EXPECT_EQ(stream.close(), 0U);
    EXPECT_FALSE(stream.isOpen());
    EXPECT_EQ(stream.write("more", 4), 0U);
}

TEST(HandleOutputStream, FlushingATerminalOrPipeSucceeds) {
    int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(::grantpt(terminal), 0);
    ASSERT_EQ(::unlockpt(terminal), 0);
    Handle master(terminal);
    int follower = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(follower, 0);
    HandleOutputStream console{Handle(follower)};
    EXPECT_EQ(console.write("line\n", 5), 5U);
    EXPECT_NO_THROW(console.flush());
    EXPECT_EQ(console.close(), 0U);

    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    Handle reader(ends[0]);
    HandleOutputStream pipe{Handle(ends[1])};
    EXPECT_NO_THROW(pipe.flush());
}

} // namespace
} // namespace tnw::util
