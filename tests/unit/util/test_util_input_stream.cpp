#include "util/exception.hpp"
#include "util/input_stream.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tnw::util {
namespace {

struct PipeEnds {
    PipeEnds() {
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        read = Handle(ends[0]);
        write = Handle(ends[1]);
    }
    Handle read;
    Handle write;
};

TEST(HandleInputStream, ReadsWhatIsThereAndZeroAtTheEnd) {
    PipeEnds pipe;
    ASSERT_EQ(::write(pipe.write.fd(), "hello", 5), 5);
    pipe.write.close();
    HandleInputStream stream(pipe.read);
    char buffer[16];
    EXPECT_EQ(stream.read(buffer, sizeof buffer), 5U);
    EXPECT_EQ(std::string(buffer, 5), "hello");
    EXPECT_EQ(stream.read(buffer, sizeof buffer), 0U); // a handle stream reports 0, not an end
    EXPECT_EQ(pipe.read.impl()->bytesRead.load(), 5U);
    EXPECT_EQ(stream.close(), 0U);
    EXPECT_FALSE(stream.isOpen());
    EXPECT_EQ(stream.read(buffer, sizeof buffer), 0U);
}

TEST(HandleInputStream, CannotSeekOrSkipPastTheData) {
    PipeEnds pipe;
    ASSERT_EQ(::write(pipe.write.fd(), "abc", 3), 3);
    pipe.write.close();
    HandleInputStream stream(pipe.read);
    EXPECT_FALSE(stream.canSeek());
    EXPECT_EQ(stream.getSize(), 0U);
    try {
        stream.seek(0, kSeekBegin);
        FAIL();
    } catch (const IOException& failure) {
        EXPECT_EQ(failure.getMessage(), "Seek not support for stream.");
    }
    try {
        stream.skip(10);
        FAIL();
    } catch (const IOException& failure) {
        EXPECT_EQ(failure.getMessage(), "Stream cannot be skipped.");
    }
}

TEST(HandleInputStream, FailedReadCarriesTheWindowsError) {
    PipeEnds pipe;
    HandleInputStream stream(pipe.write); // the write end cannot be read: EBADF
    char byte = 0;
    try {
        stream.read(&byte, 1);
        FAIL();
    } catch (const EndOfStreamException&) {
        FAIL() << "not an end of stream";
    } catch (const IOException& failure) {
        EXPECT_EQ(failure.getCode(), 6U);
    }
}

} // namespace
} // namespace tnw::util
