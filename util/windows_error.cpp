#include "util/windows_error.hpp"

#include <cerrno>

namespace tnw::util {

std::uint32_t windowsError(int errnoValue) {
    switch (errnoValue) {
    case 0: return error::kSuccess;
    case ENOENT: return error::kFileNotFound;
    case ENOTDIR: return error::kPathNotFound;
    case EMFILE:
    case ENFILE: return error::kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS: return error::kAccessDenied;
    case EBADF: return error::kInvalidHandle;
    case ENOMEM: return error::kNotEnoughMemory;
    case EEXIST: return error::kFileExists;
    case EINVAL: return error::kInvalidParameter;
    case EPIPE: return error::kBrokenPipe;
    case ENOSPC: return error::kDiskFull;
    case ENOTEMPTY: return error::kDirNotEmpty;
    case EAGAIN: return error::kWouldBlock;
    case EINPROGRESS: return error::kWouldBlock;
    case EADDRINUSE: return error::kAddressInUse;
    case EADDRNOTAVAIL: return error::kAddressNotAvailable;
    case ENETUNREACH: return error::kNetworkUnreachable;
    case ECONNABORTED: return error::kConnectionAborted;
    case ECONNRESET: return error::kConnectionReset;
    case ENOTCONN: return error::kNotConnected;
    case ESHUTDOWN: return error::kShutdown;
    case ETIMEDOUT: return error::kTimedOut;
    case ECONNREFUSED: return error::kConnectionRefused;
    case EHOSTUNREACH: return error::kHostUnreachable;
    default: return 0x20000000U | static_cast<std::uint32_t>(errnoValue);
    }
}

std::uint32_t lastError() { return windowsError(errno); }

} // namespace tnw::util
