#include "util/file_replace.hpp"

#include "util/files.hpp"
#include "util/handle.hpp"
#include "util/write_fully.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tnw::util {

std::uint32_t replaceFile(const std::string& path, std::string_view contents, std::uint32_t mode) {
    std::string temporary = path + ".tmp." + std::to_string(::getpid());
    Handle file(::open(
        temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(mode)));
    if (!file) {
        return fileError(temporary, errno);
    }
    int failure = 0;
    if (!writeFully(file.fd(), contents) || ::fchmod(file.fd(), static_cast<mode_t>(mode)) != 0 ||
        ::fsync(file.fd()) != 0) {
        failure = errno != 0 ? errno : EIO;
    }
    file.close();
    if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlink(temporary.c_str());
        return fileError(path, failure);
    }
    return 0;
}

} // namespace tnw::util
