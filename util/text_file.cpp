#include "util/text_file.hpp"

#include "util/files.hpp"
#include "util/handle.hpp"
#include "util/windows_error.hpp"
#include "util/write_fully.hpp"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tnw::util {

namespace {

// A sibling name no other writer of this process or another one picks.
std::string siblingName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
}

} // namespace

std::optional<std::string> readTextFile(const std::string& path) {
    Handle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.fd() < 0) {
        return std::nullopt;
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        ssize_t got = ::read(file.fd(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

std::uint32_t replaceFile(const std::string& path, std::string_view contents, unsigned mode) {
    struct stat existing {};
    bool keep = ::stat(path.c_str(), &existing) == 0;
    std::string temporary = siblingName(path);
    std::uint32_t failure = 0;
    {
        Handle file(
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (file.fd() < 0) {
            return fileError(temporary, errno);
        }
        bool written = writeFully(file.fd(), contents) && ::fsync(file.fd()) == 0;
        if (written && keep) {
            written = ::fchown(file.fd(), existing.st_uid, existing.st_gid) == 0 &&
                      ::fchmod(file.fd(), existing.st_mode & 07777) == 0;
        } else if (written) {
            written = ::fchmod(file.fd(), mode) == 0;
        }
        if (!written) {
            failure = lastError();
        }
    }
    if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        failure = fileError(path, errno);
    }
    if (failure != 0) {
        ::unlink(temporary.c_str());
    }
    return failure;
}

TemporaryFile::TemporaryFile(std::string_view contents) {
    std::string pattern = joinPath(tempFolder(), "plexmill-XXXXXX");
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    Handle file(fd);
    if (!writeFully(file.fd(), contents)) {
        ::unlink(pattern.c_str());
        return;
    }
    path_ = pattern;
}

TemporaryFile::~TemporaryFile() {
    if (!path_.empty()) {
        ::unlink(path_.c_str());
    }
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept : path_(std::move(other.path_)) {
    other.path_.clear();
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
    if (this != &other) {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

} // namespace tnw::util
