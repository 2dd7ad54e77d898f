#include "tests/support/socket_pair.hpp"

#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tnw::test {

SocketPair::SocketPair() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    server = tnw::util::Socket::adopt(ends[0]);
    client_ = ends[1];
}

SocketPair::~SocketPair() {
    closeClient();
}

void SocketPair::send(std::string_view bytes) const {
    while (!bytes.empty()) {
        ssize_t sent = ::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            throw std::runtime_error("send failed");
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

std::string SocketPair::receive(std::size_t count, std::chrono::milliseconds deadline) const {
    auto end = std::chrono::steady_clock::now() + deadline;
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd readable{client_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        ssize_t received =
            ::recv(client_, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
        if (received <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(received));
    }
    return bytes;
}

std::string SocketPair::receiveUntilEnd(std::chrono::milliseconds deadline) const {
    return receive(std::string::npos, deadline);
}

void SocketPair::shutdownClient() const {
    ::shutdown(client_, SHUT_WR);
}

void SocketPair::closeClient() {
    if (client_ >= 0) {
        ::close(client_);
        client_ = -1;
    }
}

} // namespace tnw::test
