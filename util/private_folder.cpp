#include "util/private_folder.hpp"

#include "util/exception.hpp"
#include "util/files.hpp"
#include "util/format.hpp"
#include "util/handle.hpp"
#include "util/windows_error.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tnw::util {

namespace {

constexpr mode_t kPrivateMode = 0700;

std::string reason(int errnoValue) {
    return std::generic_category().message(errnoValue);
}

[[noreturn]] void refuse(std::string message, std::uint32_t code = error::kAccessDenied) {
    raise(IOException(std::move(message), code));
}

// Says why the name cannot be opened as a folder: a link or something else is in its place.
[[noreturn]] void refuseUnopenable(const std::string& path, int failure) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        if (S_ISLNK(status.st_mode)) {
            refuse(format("The folder '%1' is a symbolic link, not a folder of this server's own.",
                          path));
        }
        if (!S_ISDIR(status.st_mode)) {
            refuse(format("'%1' is not a folder.", path));
        }
    }
    refuse(format("Unable to check the folder '%1' (%2).", path, reason(failure)),
           windowsError(failure));
}

// Checks the folder through a descriptor opened without following a link, so what is checked
// is the folder itself and not what a link in its place points to.
void checkPrivate(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        refuseUnopenable(path, errno);
    }
    Handle folder(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        int failure = errno;
        refuse(format("Unable to check the folder '%1' (%2).", path, reason(failure)),
               windowsError(failure));
    }
    uid_t user = ::geteuid();
    if (status.st_uid != user) {
        refuse(format("The folder '%1' belongs to another user (user id %2), not to this server's "
                      "user (user id %3).",
                      path,
                      static_cast<std::uint32_t>(status.st_uid),
                      static_cast<std::uint32_t>(user)));
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        refuse(format("The folder '%1' can be written by other users (mode %2); only its owner may "
                      "write there.",
                      path,
                      formatPrintf("%04o", static_cast<unsigned>(status.st_mode & 07777))));
    }
}

} // namespace

void preparePrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), kPrivateMode) != 0) {
        int failure = errno;
        if (failure == ENOENT) {
            // Missing parents are ordinary folders; only the last level is the server's own.
            createFolders(folderOf(path));
            failure = ::mkdir(path.c_str(), kPrivateMode) == 0 ? 0 : errno;
        }
        if (failure != 0 && failure != EEXIST) {
            refuse(format("Unable to create the folder '%1' (%2).", path, reason(failure)),
                   fileError(path, failure));
        }
    }
    checkPrivate(path);
}

std::uint32_t createFreshFolder(const std::string& path) {
    if (::mkdir(path.c_str(), kPrivateMode) == 0) {
        return 0;
    }
    return errno == EEXIST ? error::kAlreadyExists : fileError(path, errno);
}

} // namespace tnw::util
