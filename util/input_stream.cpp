#include "util/input_stream.hpp"

#include "util/exception.hpp"
#include "util/windows_error.hpp"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace tnw::util {

namespace {
// A single transfer never asks for more than a 32-bit count, whatever the caller offers.
constexpr std::uint64_t kLargestTransfer = 0xFFFFFFFFU;
constexpr std::uint64_t kSkipPiece = 1024;
} // namespace

void InputStream::skip(std::uint64_t count) {
    char discard[kSkipPiece];
    while (count > 0) {
        std::uint64_t got = read(discard, std::min(count, kSkipPiece));
        if (got == 0) {
            raise(IOException("Stream cannot be skipped."));
        }
        count -= got;
    }
}

std::uint64_t InputStream::seek(std::int64_t /*offset*/, int /*origin*/) {
    raise(IOException("Seek not support for stream."));
}

std::uint32_t HandleInputStream::close() {
    std::uint32_t result = handle_.close();
    handle_.reset();
    return result;
}

ssize_t HandleInputStream::readOnce(void* buffer, std::uint64_t size) {
    int fd = handle_.fd();
    ssize_t got = 0;
    do {
        got = ::read(fd, buffer, std::min(size, kLargestTransfer));
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        handle_.impl()->bytesRead.fetch_add(static_cast<std::uint64_t>(got),
                                            std::memory_order_relaxed);
    }
    return got;
}

void HandleInputStream::raiseReadError(int errnoValue) {
    std::uint32_t code = windowsError(errnoValue);
    if (code == error::kHandleEof || code == error::kBrokenPipe) {
        raise(EndOfStreamException());
    }
    raise(IOException(code));
}

std::uint64_t HandleInputStream::read(void* buffer, std::uint64_t size) {
    if (!handle_.isValid()) {
        return 0;
    }
    ssize_t got = readOnce(buffer, size);
    if (got < 0) {
        raiseReadError(errno);
    }
    return static_cast<std::uint64_t>(got);
}

} // namespace tnw::util
