#include "util/file_stream.hpp"

#include "util/format.hpp"

#include "util/exception.hpp"
#include "util/files.hpp"
#include "util/windows_error.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tnw::util {

namespace {

std::uint64_t seekHandle(const Handle& handle, std::int64_t offset, int origin) {
    int whence = 0;
    switch (origin) {
    case kSeekBegin:
        whence = SEEK_SET;
        break;
    case kSeekCurrent:
        whence = SEEK_CUR;
        break;
    case kSeekEnd:
        whence = SEEK_END;
        break;
    default:
        return 0;
    }
    if (!handle.isValid()) {
        return 0;
    }
    off_t position = ::lseek(handle.fd(), offset, whence);
    return position < 0 ? 0 : static_cast<std::uint64_t>(position);
}

Handle openForReading(const std::string& path, std::uint64_t& size) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        raise(IOException(fileError(path, errno)));
    }
    Handle handle(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        raise(IOException(lastError()));
    }
    if (S_ISDIR(status.st_mode)) {
        raise(IOException(error::kAccessDenied));
    }
    size = static_cast<std::uint64_t>(status.st_size);
    // Files here are read front to back; a larger read-ahead pays off on disks.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return handle;
}

Handle openForWriting(const std::string& path, LinkPolicy links) {
    int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    if (links == LinkPolicy::Refuse) {
        flags |= O_NOFOLLOW;
    }
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        std::uint32_t code = fileError(path, errno);
        raise(IOException(format("Unable to open the file '%1'.", path), code));
    }
    return Handle(fd);
}

} // namespace

FileInputStream::FileInputStream(const std::string& path) : HandleInputStream(Handle()) {
    handle_ = openForReading(path, size_);
}

std::uint64_t FileInputStream::read(void* buffer, std::uint64_t size) {
    if (!handle_.isValid()) {
        raise(EndOfStreamException());
    }
    ssize_t got = readOnce(buffer, size);
    if (got < 0) {
        raise(IOException(lastError()));
    }
    if (got == 0) {
        raise(EndOfStreamException());
    }
    return static_cast<std::uint64_t>(got);
}

void FileInputStream::adviseSequential() {
    if (handle_.isValid()) {
        ::posix_fadvise(handle_.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }
}

std::uint64_t FileInputStream::seek(std::int64_t offset, int origin) {
    return seekHandle(handle_, offset, origin);
}

FileOutputStream::FileOutputStream(const std::string& path, LinkPolicy links)
    : HandleOutputStream(openForWriting(path, links)) {}

std::uint64_t FileOutputStream::seek(std::int64_t offset, int origin) {
    return seekHandle(handle_, offset, origin);
}

} // namespace tnw::util
