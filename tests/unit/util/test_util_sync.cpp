#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "util/exception.hpp"
#include "util/handle.hpp"
#include "util/sync.hpp"
#include "util/windows_error.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tnw::util {
namespace {

TEST(Exception, RaisedCopyKeepsMessageCodeAndMostDerivedName) {
    try {
        raise(IOException("broken", 109));
        FAIL();
    } catch (const Exception& caught) {
        EXPECT_EQ(caught.getMessage(), "broken");
        EXPECT_EQ(caught.getCode(), 109U);
        ASSERT_NE(caught.className(), nullptr);
        EXPECT_STREQ(caught.className(), "tnw::util::IOException");
    }
    try {
        raise(EndOfStreamException());
    } catch (const IOException& caught) {
        EXPECT_STREQ(caught.className(), "tnw::util::EndOfStreamException");
        EXPECT_TRUE(caught.getMessage().empty());
    }
}

TEST(WindowsError, MapsTheErrnoValuesPeersSee) {
    EXPECT_EQ(windowsError(ENOENT), 2U);
    EXPECT_EQ(windowsError(ENOTDIR), 3U);
    EXPECT_EQ(windowsError(EACCES), 5U);
    EXPECT_EQ(windowsError(EPERM), 5U);
    EXPECT_EQ(windowsError(EPIPE), 109U);
    EXPECT_EQ(windowsError(ECONNABORTED), 10053U);
    EXPECT_EQ(windowsError(ECONNRESET), 10054U);
    EXPECT_EQ(windowsError(ETIMEDOUT), 10060U);
    EXPECT_EQ(windowsError(EWOULDBLOCK), 10035U);
}

TEST(Handle, ClosesOnceAndNeverTheNoneValue) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    Handle read(fds[0]);
    Handle copy = read;
    EXPECT_TRUE(copy.isValid());
    EXPECT_EQ(read.close(), 0U);
    EXPECT_FALSE(copy.isValid());
    EXPECT_EQ(read.close(), 0U); // second close finds nothing
    EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);

    Handle none(Handle::kNone);
    EXPECT_FALSE(none.isValid());
    EXPECT_EQ(none.close(), 0U);

    Handle borrowed(fds[1], true);
    borrowed.close();
    EXPECT_NE(::fcntl(fds[1], F_GETFD), -1); // borrowed descriptors stay open
    auto [duplicate, error] = borrowed.duplicate(false);
    EXPECT_FALSE(duplicate.isValid());
    EXPECT_EQ(error, 0U);
    ::close(fds[1]);
}

TEST(Handle, LastReferenceCloses) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    {
        Handle write(fds[1]);
        auto [duplicate, error] = write.duplicate(false);
        ASSERT_TRUE(duplicate.isValid());
        EXPECT_EQ(error, 0U);
        EXPECT_NE(duplicate.fd(), fds[1]);
    }
    char byte = 0;
    EXPECT_EQ(::read(fds[0], &byte, 1), 0); // every writer is gone: end of file
    ::close(fds[0]);
}

TEST(Event, ManualResetAndWaitForAnyPositions) {
    Event first;
    Event second;
    ASSERT_TRUE(first.create());
    EXPECT_FALSE(first.create());
    ASSERT_TRUE(second.create());
    EXPECT_FALSE(second.isSet());
    second.set();
    EXPECT_TRUE(second.isSet());
    EXPECT_TRUE(second.isSet()); // stays set until reset

    Handle list[] = {Handle(), first.handle(), Handle(), second.handle()};
    EXPECT_EQ(waitForAny(list, 4, false, 0), 4U);
    EXPECT_EQ(waitForAny(list, 4, true, 0), 0U);
    first.set();
    EXPECT_EQ(waitForAny(list, 4, true, 0), 1U);
    second.reset();
    EXPECT_FALSE(second.isSet());
    EXPECT_EQ(waitForAny(list, 64, false, 0), 0U);
    Handle empties[] = {Handle(), Handle()};
    EXPECT_EQ(waitForAny(empties, 2, false, kInfinite), 0U);
}

TEST(Event, WakesAWaitingThread) {
    Event event;
    ASSERT_TRUE(event.create());
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        event.set();
    });
    EXPECT_TRUE(event.wait(5'000'000));
    setter.join();
    event.reset();
    EXPECT_FALSE(event.wait(1000));
}

TEST(Mutex, GlobalLockMayBeReenteredByItsHolder) {
    Lock outer(globalLock());
    Lock inner(globalLock());
    Mutex empty;
    empty.lock(); // does nothing without create()
    empty.unlock();
    EXPECT_FALSE(empty.isValid());
}

TEST(Reallocate, FreesOnZeroAndKeepsContents) {
    EXPECT_EQ(reallocate(nullptr, 0), nullptr);
    auto* block = static_cast<char*>(reallocate(nullptr, 4));
    std::memcpy(block, "abcd", 4);
    block = static_cast<char*>(reallocate(block, 1 << 20));
    EXPECT_EQ(std::string(block, 4), "abcd");
    EXPECT_EQ(reallocate(block, 0), nullptr);
}

} // namespace
} // namespace tnw::util
