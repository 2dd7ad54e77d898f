#include "util/exception.hpp"
#include "util/pipe.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tnw::util {
namespace {

bool closeOnExec(const Handle& handle) {
    return (::fcntl(handle.fd(), F_GETFD) & FD_CLOEXEC) != 0;
}

TEST(Pipe, EndsAreCloseOnExecUnlessInheritable) {
    Pipe hidden;
    ASSERT_EQ(hidden.create(false), 0U);
    EXPECT_TRUE(closeOnExec(hidden.readEnd()));
    EXPECT_TRUE(closeOnExec(hidden.writeEnd()));
    Pipe inherited;
    ASSERT_EQ(inherited.create(true), 0U);
    EXPECT_FALSE(closeOnExec(inherited.readEnd()));
    EXPECT_FALSE(closeOnExec(inherited.writeEnd()));
}

TEST(Pipe, RefusesASecondCreateWhileAnEndIsOpen) {
    Pipe pipe;
    ASSERT_EQ(pipe.create(false), 0U);
    int readFd = pipe.readEnd().fd();
    EXPECT_EQ(pipe.create(false), 183U);
    EXPECT_EQ(pipe.readEnd().fd(), readFd);
}

TEST(PipeInputStream, TakesTheReadEndAndEndsWhenTheWriterGoes) {
    Pipe pipe;
    ASSERT_EQ(pipe.create(false), 0U);
    PipeInputStream stream(pipe);
    EXPECT_FALSE(pipe.readEnd().isValid());
    ASSERT_EQ(::write(pipe.writeEnd().fd(), "data", 4), 4);
    char buffer[16];
    EXPECT_EQ(stream.read(buffer, sizeof buffer), 4U);
    pipe.writeEnd().close();
    EXPECT_THROW(stream.read(buffer, sizeof buffer), EndOfStreamException);
    stream.close();
    EXPECT_EQ(stream.read(buffer, sizeof buffer), 0U);
}

} // namespace
} // namespace tnw::util
