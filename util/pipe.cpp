#include "util/pipe.hpp"

#include "util/exception.hpp"
#include "util/windows_error.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace tnw::util {

std::uint32_t Pipe::create(bool inheritable) {
    if (read_.isValid() || write_.isValid()) {
        return error::kAlreadyExists;
    }
    int ends[2];
    if (::pipe2(ends, inheritable ? 0 : O_CLOEXEC) != 0) {
        return lastError();
    }
    read_ = Handle(ends[0]);
    write_ = Handle(ends[1]);
    return 0;
}

std::size_t Pipe::setCapacity(std::size_t bytes) {
    const Handle& end = read_.isValid() ? read_ : write_;
    if (!end.isValid()) {
        return 0;
    }
    int wanted = static_cast<int>(std::min<std::size_t>(bytes, INT_MAX));
    // Above the system's cap the request fails as a whole: the buffer it had stays.
    ::fcntl(end.fd(), F_SETPIPE_SZ, wanted);
    int size = ::fcntl(end.fd(), F_GETPIPE_SZ);
    return size > 0 ? static_cast<std::size_t>(size) : 0;
}

PipeInputStream::PipeInputStream(Pipe& pipe) : HandleInputStream(std::move(pipe.readEnd())) {
    pipe.readEnd() = Handle();
}

std::uint64_t PipeInputStream::read(void* buffer, std::uint64_t size) {
    if (!handle_.isValid()) {
        return 0;
    }
    ssize_t got = readOnce(buffer, size);
    if (got < 0) {
        raiseReadError(errno);
    }
    // A pipe reads nothing only when no writer is left: the broken pipe of the other side.
    if (got == 0 && size > 0) {
        raise(EndOfStreamException());
    }
    return static_cast<std::uint64_t>(got);
}

} // namespace tnw::util
