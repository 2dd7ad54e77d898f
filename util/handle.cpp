#include "util/handle.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "util/windows_error.hpp"

namespace tnw::util {

Handle::HandleImpl::~HandleImpl() {
    // Virtual dispatch does not reach subclasses here; they close in their own destructors.
    if (!borrowed_) {
        int fd = release();
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::uint32_t Handle::HandleImpl::close() {
    int fd = release();
    if (fd < 0 || borrowed_) {
        return 0;
    }
    return ::close(fd) == 0 ? 0 : lastError();
}

std::pair<Handle, std::uint32_t> Handle::HandleImpl::duplicate(bool inheritable) {
    int fd = this->fd();
    if (fd < 0 || borrowed_) {
        return {Handle(), 0};
    }
    int copy = ::fcntl(fd, inheritable ? F_DUPFD : F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        return {Handle(), lastError()};
    }
    return {Handle(copy), 0};
}

Handle::Handle(int fd, bool borrowed) : impl_(std::make_shared<HandleImpl>(fd, borrowed)) {}

std::uint32_t Handle::close() { return impl_ ? impl_->close() : 0; }

std::pair<Handle, std::uint32_t> Handle::duplicate(bool inheritable) const {
    return impl_ ? impl_->duplicate(inheritable) : std::pair<Handle, std::uint32_t>{Handle(), 0};
}

} // namespace tnw::util
