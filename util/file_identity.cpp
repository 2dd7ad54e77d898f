#include "util/file_identity.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace tnw::util {

namespace {

std::int64_t nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

FileIdentity identityOf(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev),
            static_cast<std::uint64_t>(status.st_ino),
            static_cast<std::uint64_t>(status.st_size),
            nanoseconds(status.st_mtim),
            nanoseconds(status.st_ctim)};
}

} // namespace

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return identityOf(status);
}

std::optional<FileIdentity> fileIdentity(const Handle& file) {
    struct stat status {};
    if (!file.isValid() || ::fstat(file.fd(), &status) != 0) {
        return std::nullopt;
    }
    return identityOf(status);
}

Handle openFileNoFollow(const std::string& path) {
    return Handle(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
}

} // namespace tnw::util
