#include "util/instance_lock.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tnw::util {

namespace {

// Abstract names start with a NUL byte; longer names are cut to what the address can hold.
socklen_t abstractAddress(const std::string& name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

} // namespace

Handle InstanceLock::acquire(const std::string& name) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return {};
    }
    sockaddr_un address{};
    socklen_t size = abstractAddress(name, address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return {};
    }
    return Handle(fd);
}

bool InstanceLock::isHeld(const std::string& name) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    socklen_t size = abstractAddress(name, address);
    // Non-blocking: a holder whose backlog is full refuses with EAGAIN, which still means held.
    bool held = ::connect(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 || errno == EAGAIN;
    ::close(fd);
    return held;
}

} // namespace tnw::util
