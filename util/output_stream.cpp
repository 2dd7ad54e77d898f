#include "util/output_stream.hpp"

#include "util/exception.hpp"
#include "util/sigpipe_guard.hpp"
#include "util/windows_error.hpp"

#include <algorithm>
#include <cerrno>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace tnw::util {

namespace {

constexpr std::uint64_t kLargestTransfer = 0xFFFFFFFFU;

[[noreturn]] void raiseWriteError(int errnoValue) {
    std::uint32_t code = windowsError(errnoValue);
    if (code == error::kHandleEof || code == error::kBrokenPipe) {
        raise(EndOfStreamException());
    }
    raise(IOException(code));
}

ssize_t writeRetrying(int fd, const void* buffer, std::size_t size, int& failure) {
    ssize_t written = 0;
    do {
        written = ::write(fd, buffer, size);
    } while (written < 0 && errno == EINTR);
    failure = written < 0 ? errno : 0;
    return written;
}

ssize_t writeWithoutSigpipe(int fd, const void* buffer, std::size_t size, int& failure) {
    SigpipeGuard guard;
    return writeRetrying(fd, buffer, size, failure);
}

} // namespace

std::uint32_t OutputStream::close() {
    raise(IOException("Stream cannot be closed."));
}

std::uint64_t OutputStream::seek(std::int64_t /*offset*/, int /*origin*/) {
    raise(IOException("Seek not supported by stream."));
}

std::uint64_t OutputStream::write(const void* /*buffer*/, std::uint64_t /*size*/) {
    raise(IOException("Write to stream is not supported."));
}

HandleOutputStream::HandleOutputStream(Handle handle) : handle_(std::move(handle)) {
    struct stat status {};
    regularFile_ =
        handle_.isValid() && ::fstat(handle_.fd(), &status) == 0 && S_ISREG(status.st_mode);
}

std::uint32_t HandleOutputStream::close() {
    std::uint32_t flushError = 0;
    try {
        flush();
    } catch (const Exception& failure) {
        flushError = failure.getCode() != 0 ? failure.getCode() : error::kBrokenPipe;
    }
    std::uint32_t closeError = handle_.close();
    handle_.reset();
    return closeError != 0 ? closeError : flushError;
}

void HandleOutputStream::flush() {
    if (!regularFile_ || !handle_.isValid()) {
        return;
    }
    int result = 0;
    do {
        result = ::fdatasync(handle_.fd());
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        raiseWriteError(errno);
    }
}

ssize_t HandleOutputStream::writeOnce(const void* buffer, std::uint64_t size) {
    std::uint64_t piece = std::min(size, kLargestTransfer);
    int failure = 0;
    ssize_t written = regularFile_ ? writeRetrying(handle_.fd(), buffer, piece, failure)
                                   : writeWithoutSigpipe(handle_.fd(), buffer, piece, failure);
    if (written > 0) {
        handle_.impl()->bytesWritten.fetch_add(static_cast<std::uint64_t>(written),
                                               std::memory_order_relaxed);
    }
    errno = failure;
    return written;
}

std::uint64_t HandleOutputStream::write(const void* buffer, std::uint64_t size) {
    if (!handle_.isValid()) {
        return 0;
    }
    ssize_t written = writeOnce(buffer, size);
    if (written < 0) {
        raiseWriteError(errno);
    }
    return static_cast<std::uint64_t>(written);
}

} // namespace tnw::util
