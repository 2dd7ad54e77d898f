#include "util/socket.hpp"

#include "util/clock.hpp"
#include "util/exception.hpp"
#include "util/sigpipe_guard.hpp"
#include "util/windows_error.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace tnw::util {

namespace {

constexpr std::size_t kMaxTransfer = 0x7FFFFFFF;

sockaddr_in toSockaddr(const InetAddress& address) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = htonl(address.address());
    result.sin_port = htons(address.port());
    return result;
}

InetAddress fromSockaddr(const sockaddr_storage& address) {
    if (address.ss_family != AF_INET) {
        return {};
    }
    const auto& inet = reinterpret_cast<const sockaddr_in&>(address);
    return {ntohl(inet.sin_addr.s_addr), ntohs(inet.sin_port)};
}

bool isNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) != 0;
}

bool setNonBlockingMode(int fd, bool nonBlocking) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) {
        return false;
    }
    int wanted = nonBlocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
    return wanted == flags || ::fcntl(fd, F_SETFL, wanted) == 0;
}

bool setFlagOption(int fd, int option, bool on) {
    int value = on ? 1 : 0;
    return ::setsockopt(fd, SOL_SOCKET, option, &value, sizeof value) == 0;
}

// The Windows number of a failed transfer. Linux reports the expiry of a receive or send
// time-out as EAGAIN, which only a blocking socket can mean that way; and EPIPE, "this side
// can no longer send", is a shutdown only when this side asked for one: otherwise the
// connection was reset under us.
std::uint32_t transferError(int errnoValue, int fd, bool shutDownHere) {
    if (errnoValue == EAGAIN || errnoValue == EWOULDBLOCK) {
        return isNonBlocking(fd) ? error::kWouldBlock : error::kTimedOut;
    }
    if (errnoValue == EPIPE) {
        return shutDownHere ? error::kShutdown : error::kConnectionReset;
    }
    return windowsError(errnoValue);
}

[[noreturn]] void raiseStreamError(std::uint32_t code) {
    if (code == error::kConnectionAborted || code == error::kShutdown) {
        raise(EndOfStreamException());
    }
    if (code == error::kTimedOut) {
        raise(IOTimedOutException(code));
    }
    raise(IOException(code));
}

[[noreturn]] void raiseDatagramError(std::uint32_t code) {
    if (code == error::kTimedOut) {
        raise(IOTimedOutException(code));
    }
    raise(IOException(code));
}

// Waits until the socket can take more bytes; EINTR only repeats the wait.
void waitWritable(int fd) {
    pollfd writable{fd, POLLOUT, 0};
    while (::poll(&writable, 1, -1) < 0 && errno == EINTR) {
    }
}

// Marks a send as waiting for room for as long as it waits.
class SendWait {
public:
    explicit SendWait(std::atomic<std::uint64_t>& since) : since_(since) {
        since_ = std::max<std::uint64_t>(monotonicMicroseconds(), 1);
    }
    ~SendWait() { since_ = 0; }
    SendWait(const SendWait&) = delete;
    SendWait& operator=(const SendWait&) = delete;

private:
    std::atomic<std::uint64_t>& since_;
};

} // namespace

Socket::SocketHandleImpl::~SocketHandleImpl() {
    event_.close();
}

std::uint32_t Socket::SocketHandleImpl::close() {
    event_.close();
    return HandleImpl::close();
}

std::pair<Handle, std::uint32_t> Socket::SocketHandleImpl::duplicate(bool inheritable) {
    int fd = this->fd();
    if (fd < 0) {
        return {Handle(), 0};
    }
    int copy = ::fcntl(fd, inheritable ? F_DUPFD : F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        return {Handle(), lastError()};
    }
    return {Handle(std::make_shared<SocketHandleImpl>(copy)), 0};
}

Socket Socket::adopt(int fd) {
    return Socket(std::make_shared<SocketHandleImpl>(fd));
}

bool Socket::create(bool stream) {
    if (isValid()) {
        return false;
    }
    int fd = stream ? ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)
                    : ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        return false;
    }
    impl_ = std::make_shared<SocketHandleImpl>(fd);
    return true;
}

bool Socket::bind(const InetAddress& address) {
    int fd = this->fd();
    if (fd < 0) {
        return false;
    }
    int type = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM) {
        setFlagOption(fd, SO_REUSEADDR, true);
    }
    sockaddr_in local = toSockaddr(address);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

bool Socket::listen(int backlog) {
    int fd = this->fd();
    return fd >= 0 && ::listen(fd, backlog) == 0;
}

Socket Socket::accept(bool* outOfResources) {
    if (outOfResources != nullptr) {
        *outOfResources = false;
    }
    int fd = this->fd();
    if (fd < 0) {
        return {};
    }
    int flags = SOCK_CLOEXEC | (isNonBlocking(fd) ? SOCK_NONBLOCK : 0);
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int accepted = -1;
    do {
        length = sizeof peer;
        accepted = ::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &length, flags);
    } while (accepted < 0 && errno == EINTR);
    if (accepted < 0) {
        if (outOfResources != nullptr) {
            *outOfResources =
                errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
        }
        return {};
    }
    Socket connection = adopt(accepted);
    if (peer.ss_family != AF_INET) {
        connection.close();
        return {};
    }
    return connection;
}

bool Socket::connect(const InetAddress& address) {
    int fd = this->fd();
    if (fd < 0) {
        return false;
    }
    sockaddr_in remote = toSockaddr(address);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0) {
        return true;
    }
    // An interrupted blocking connect goes on in the background; wait for its outcome.
    if (errno != EINTR || isNonBlocking(fd)) {
        return false;
    }
    waitWritable(fd);
    int failure = 0;
    socklen_t length = sizeof failure;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) == 0 && failure == 0;
}

bool Socket::makeEventDriven() {
    int fd = this->fd();
    if (fd < 0 || impl_->event_.impl() != nullptr || !setNonBlockingMode(fd, true)) {
        return false;
    }
    impl_->event_ = Handle(fd, true);
    return true;
}

Handle Socket::eventHandle() const {
    return impl_ ? impl_->event_ : Handle();
}

void Socket::setNonBlocking(bool nonBlocking) {
    int fd = this->fd();
    if (fd >= 0) {
        setNonBlockingMode(fd, nonBlocking);
    }
}

void Socket::setBroadcast(bool broadcast) {
    int fd = this->fd();
    if (fd >= 0) {
        setFlagOption(fd, SO_BROADCAST, broadcast);
    }
}

bool Socket::setReceiveTimeout(std::uint32_t milliseconds) {
    int fd = this->fd();
    if (fd < 0) {
        return false;
    }
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(milliseconds / 1000);
    timeout.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
}

bool Socket::setNoDelay(bool noDelay) {
    int fd = this->fd();
    int value = noDelay ? 1 : 0;
    return fd >= 0 && ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0;
}

InetAddress Socket::getLocalAddress() const {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    int fd = this->fd();
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return {};
    }
    return fromSockaddr(local);
}

InetAddress Socket::getPeerAddress() const {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int fd = this->fd();
    if (fd < 0 || ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        return {};
    }
    return fromSockaddr(peer);
}

void Socket::shutdownReceive() {
    int fd = this->fd();
    if (fd >= 0) {
        impl_->receiveShutDown_ = true;
        ::shutdown(fd, SHUT_RD);
    }
}

void Socket::shutdownSend() {
    int fd = this->fd();
    if (fd >= 0) {
        impl_->sendShutDown_ = true; // before the call: a concurrent send may fail at once
        ::shutdown(fd, SHUT_WR);
    }
}

std::optional<std::size_t> Socket::trySend(const void* buffer, std::size_t size, int flags) {
    int fd = this->fd();
    for (;;) {
        ssize_t sent = ::send(fd, buffer, std::min(size, kMaxTransfer), MSG_NOSIGNAL | flags);
        if (sent >= 0) {
            impl_->bytesWritten.fetch_add(static_cast<std::uint64_t>(sent));
            return static_cast<std::size_t>(sent);
        }
        if (errno == EINTR) {
            continue;
        }
        if ((flags & MSG_DONTWAIT) != 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return std::nullopt;
        }
        std::uint32_t code = transferError(errno, fd, impl_->sendShutDown_);
        if (code == error::kWouldBlock) {
            return std::nullopt;
        }
        raiseStreamError(code);
    }
}

std::size_t Socket::send(const void* buffer, std::size_t size) {
    if (fd() < 0) {
        return 0;
    }
    return trySend(buffer, size, 0).value_or(0);
}

std::size_t Socket::sendWithin(const void* buffer, std::size_t size, std::uint32_t timeout) {
    for (;;) {
        int fd = this->fd();
        if (fd < 0) {
            raise(IOException(windowsError(EBADF)));
        }
        // Without a time-out a blocking socket waits inside the send, as it always has.
        if (auto sent = trySend(buffer, size, timeout == kInfinite ? 0 : MSG_DONTWAIT)) {
            return *sent;
        }
        SendWait waiting(impl_->sendWaitingSince_);
        if (!waitForDescriptor(fd, POLLOUT, timeout)) {
            raise(IOTimedOutException(error::kTimedOut));
        }
    }
}

std::size_t Socket::spliceFrom(const Handle& pipe, std::size_t size) {
    for (;;) {
        int fd = this->fd();
        if (fd < 0) {
            raise(IOException(windowsError(EBADF)));
        }
        ssize_t moved = 0;
        int failure = 0;
        {
            // Unlike send, splice has no flag that keeps a peer that has gone from raising it.
            SigpipeGuard guard;
            moved = ::splice(
                pipe.fd(), nullptr, fd, nullptr, std::min(size, kMaxTransfer), SPLICE_F_MOVE);
            failure = moved < 0 ? errno : 0;
        }
        if (moved >= 0) {
            impl_->bytesWritten.fetch_add(static_cast<std::uint64_t>(moved));
            if (auto* counters = pipe.impl()) {
                counters->bytesRead.fetch_add(static_cast<std::uint64_t>(moved));
            }
            return static_cast<std::size_t>(moved);
        }
        if (failure == EINTR) {
            continue;
        }
        std::uint32_t code = transferError(failure, fd, impl_->sendShutDown_);
        if (code != error::kWouldBlock) {
            raiseStreamError(code);
        }
        // A non-blocking socket without room: the pipe end is blocking, so it was the socket.
        SendWait waiting(impl_->sendWaitingSince_);
        waitForDescriptor(fd, POLLOUT, kInfinite);
    }
}

std::size_t Socket::spliceTo(const Handle& pipe, std::size_t size) {
    for (;;) {
        int fd = this->fd();
        if (fd < 0) {
            return 0;
        }
        ssize_t moved = ::splice(
            fd, nullptr, pipe.fd(), nullptr, std::min(size, kMaxTransfer), SPLICE_F_MOVE);
        if (moved > 0) {
            impl_->bytesRead.fetch_add(static_cast<std::uint64_t>(moved));
            if (auto* counters = pipe.impl()) {
                counters->bytesWritten.fetch_add(static_cast<std::uint64_t>(moved));
            }
            return static_cast<std::size_t>(moved);
        }
        if (moved == 0) {
            if (size > 0 && impl_->receiveShutDown_) {
                raise(EndOfStreamException());
            }
            return 0;
        }
        if (errno == EINTR) {
            continue;
        }
        std::uint32_t code = transferError(errno, fd, impl_->sendShutDown_);
        if (code != error::kWouldBlock) {
            raiseStreamError(code);
        }
        waitForDescriptor(fd, POLLIN, kInfinite);
    }
}

std::size_t Socket::receiveWithin(void* buffer, std::size_t size, std::uint32_t timeout) {
    int fd = this->fd();
    if (fd >= 0 && !waitForDescriptor(fd, POLLIN, timeout)) {
        raise(IOTimedOutException(error::kTimedOut));
    }
    return receive(buffer, size);
}

std::uint64_t Socket::sendWaitingSince() const {
    return impl_ ? impl_->sendWaitingSince_.load() : 0;
}

std::size_t Socket::receive(void* buffer, std::size_t size) {
    int fd = this->fd();
    if (fd < 0) {
        return 0;
    }
    for (;;) {
        ssize_t received = ::recv(fd, buffer, std::min(size, kMaxTransfer), 0);
        if (received > 0) {
            impl_->bytesRead.fetch_add(static_cast<std::uint64_t>(received));
            return static_cast<std::size_t>(received);
        }
        if (received == 0) {
            // After our own shutdown the stream has ended here, not at the peer.
            if (size > 0 && impl_->receiveShutDown_) {
                raise(EndOfStreamException());
            }
            return 0;
        }
        if (errno != EINTR) {
            std::uint32_t code = transferError(errno, fd, impl_->sendShutDown_);
            if (code == error::kWouldBlock) {
                return 0;
            }
            raiseStreamError(code);
        }
    }
}

void Socket::sendAll(const void* buffer, std::size_t size, std::uint32_t timeout) {
    const auto* next = static_cast<const char*>(buffer);
    while (size > 0) {
        std::size_t sent = sendWithin(next, size, timeout);
        next += sent;
        size -= sent;
    }
}

std::size_t Socket::sendTo(const InetAddress& address, const void* buffer, std::size_t size) {
    int fd = this->fd();
    if (fd < 0) {
        return 0;
    }
    sockaddr_in remote = toSockaddr(address);
    for (;;) {
        ssize_t sent = ::sendto(fd,
                                buffer,
                                std::min(size, kMaxTransfer),
                                MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&remote),
                                sizeof remote);
        if (sent >= 0) {
            impl_->bytesWritten.fetch_add(static_cast<std::uint64_t>(sent));
            return static_cast<std::size_t>(sent);
        }
        if (errno != EINTR) {
            raiseDatagramError(transferError(errno, fd, impl_->sendShutDown_));
        }
    }
}

ReceiveFromResult Socket::receiveFrom(void* buffer, std::size_t size) {
    int fd = this->fd();
    if (fd < 0) {
        return {};
    }
    for (;;) {
        sockaddr_storage sender{};
        socklen_t length = sizeof sender;
        ssize_t received = ::recvfrom(fd,
                                      buffer,
                                      std::min(size, kMaxTransfer),
                                      0,
                                      reinterpret_cast<sockaddr*>(&sender),
                                      &length);
        if (received >= 0) {
            if (sender.ss_family != AF_INET) {
                raise(IOException("Invalid IP family."));
            }
            impl_->bytesRead.fetch_add(static_cast<std::uint64_t>(received));
            return {
                ReceiveStatus::kReceived, static_cast<std::size_t>(received), fromSockaddr(sender)};
        }
        if (errno != EINTR) {
            std::uint32_t code = transferError(errno, fd, impl_->sendShutDown_);
            if (code == error::kWouldBlock) {
                return {};
            }
            raiseDatagramError(code);
        }
    }
}

} // namespace tnw::util
