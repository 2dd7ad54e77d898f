#include "util/instance_lock.hpp"

#include <unistd.h>

#include <cerrno>

#include "util/abstract_socket_address.hpp"

namespace tnw::util {

Handle InstanceLock::acquire(const std::string& name) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return {};
    }
    sockaddr_un address{};
    socklen_t size = abstractSocketAddress(name, address);
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
    socklen_t size = abstractSocketAddress(name, address);
    // Non-blocking: a holder whose backlog is full refuses with EAGAIN, which still means held.
    bool held = ::connect(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 || errno == EAGAIN;
    ::close(fd);
    return held;
}

} // namespace tnw::util
