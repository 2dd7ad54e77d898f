#include "util/service_control.hpp"

#include "util/abstract_socket_address.hpp"
#include "util/format.hpp"
#include "util/instance_lock.hpp"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace tnw::util {

namespace {

// Requests and replies are a few digits; anything longer is not one of them.
constexpr std::size_t kLineLimit = 32;

void setTimeouts(int fd, std::uint32_t microseconds) {
    timeval time{};
    time.tv_sec = static_cast<time_t>(microseconds / 1'000'000);
    time.tv_usec = static_cast<suseconds_t>(microseconds % 1'000'000);
    if (time.tv_sec == 0 && time.tv_usec == 0) {
        time.tv_usec = 1; // zero would mean "wait for ever"
    }
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &time, sizeof time);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &time, sizeof time);
}

// Reads up to and without the first line feed; nothing when the peer closes first, sends too
// much or stays silent past the socket's time-out.
std::optional<std::string> readLine(int fd) {
    std::string line;
    char buffer[kLineLimit];
    for (;;) {
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return std::nullopt;
        }
        line.append(buffer, static_cast<std::size_t>(got));
        if (auto end = line.find('\n'); end != std::string::npos) {
            return end + 1 == line.size() ? std::optional(line.substr(0, end)) : std::nullopt;
        }
        if (line.size() > kLineLimit) {
            return std::nullopt;
        }
    }
}

bool sendAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t sent = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

// A decimal number of at most ten digits that fits 32 bits.
std::optional<std::uint32_t> parseNumber(std::string_view text) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char digit : text) {
        if (digit < '0' || digit > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(digit - '0');
    }
    return value <= 0xFFFFFFFFU ? std::optional(static_cast<std::uint32_t>(value)) : std::nullopt;
}

std::optional<ServiceControlReply> parseReply(std::string_view line) {
    auto blank = line.find(' ');
    if (blank == std::string_view::npos) {
        return std::nullopt;
    }
    auto error = parseNumber(line.substr(0, blank));
    auto state = parseNumber(line.substr(blank + 1));
    if (!error || !state || *state < static_cast<std::uint32_t>(ServiceState::Stopped) ||
        *state > static_cast<std::uint32_t>(ServiceState::Paused)) {
        return std::nullopt;
    }
    return ServiceControlReply{*error, static_cast<ServiceState>(*state)};
}

} // namespace

ServiceControlListener ServiceControlListener::open(const std::string& name) {
    ServiceControlListener listener;
    Handle socket = InstanceLock::acquire(name);
    // Non-blocking, so that a connection that goes between the wake-up and the accept cannot
    // hold the caller.
    int flags = socket ? ::fcntl(socket.fd(), F_GETFL) : -1;
    if (flags >= 0 && ::fcntl(socket.fd(), F_SETFL, flags | O_NONBLOCK) == 0) {
        listener.socket_ = std::move(socket);
    }
    return listener;
}

void ServiceControlListener::serveOne(const Answer& answer, std::uint32_t timeout) {
    int fd = ::accept4(socket_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    Handle connection(fd);
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
        return;
    }
    ServiceControlPeer peer;
    peer.userId = credentials.uid;
    peer.processId = static_cast<std::uint64_t>(credentials.pid);
    peer.privileged = credentials.uid == 0 || credentials.uid == ::geteuid();
    setTimeouts(fd, timeout);
    auto line = readLine(fd);
    auto control = line ? parseNumber(*line) : std::nullopt;
    ServiceControlReply reply = answer(control.value_or(service_control::kInterrogate), peer);
    if (!control) {
        reply.error = service_error::kInvalidParameter;
    }
    sendAll(fd, formatPrintf("%u %u\n", reply.error, static_cast<std::uint32_t>(reply.state)));
}

ServiceControlResult
sendServiceControl(const std::string& name, std::uint32_t control, std::uint32_t timeout) {
    ServiceControlResult result;
    Handle connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!connection) {
        return result;
    }
    setTimeouts(connection.fd(), timeout);
    sockaddr_un address{};
    socklen_t size = abstractSocketAddress(name, address);
    if (::connect(connection.fd(), reinterpret_cast<sockaddr*>(&address), size) != 0) {
        if (errno == ECONNREFUSED || errno == ENOENT) {
            result.outcome = ServiceControlOutcome::NotListening;
        }
        return result;
    }
    if (!sendAll(connection.fd(), formatPrintf("%u\n", control))) {
        return result;
    }
    auto line = readLine(connection.fd());
    auto reply = line ? parseReply(*line) : std::nullopt;
    if (!reply) {
        return result;
    }
    ucred credentials{};
    socklen_t credentialsSize = sizeof credentials;
    if (::getsockopt(connection.fd(), SOL_SOCKET, SO_PEERCRED, &credentials, &credentialsSize) ==
        0) {
        result.serviceProcessId = static_cast<std::uint64_t>(credentials.pid);
    }
    result.outcome = ServiceControlOutcome::Answered;
    result.reply = *reply;
    return result;
}

} // namespace tnw::util
