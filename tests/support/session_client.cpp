#include "tests/support/session_client.hpp"

#include "tests/support/server_process.hpp"

#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tnw::test {

SessionClient::SessionClient(std::uint16_t port) : fd_(connectTcp(port)) {}

SessionClient::~SessionClient() {
    close();
}

std::uint16_t SessionClient::localPort() const {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size);
    return ntohs(local.sin_port);
}

void SessionClient::send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            throw std::runtime_error("send to the server failed");
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

std::string SessionClient::handshake(std::string_view uri) {
    send(std::string(uri) + "\n");
    return receiveLine();
}

long SessionClient::readSome(char* buffer,
                             std::size_t size,
                             std::chrono::steady_clock::time_point end) {
    if (ended_) {
        return 0;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd readable{fd_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
        return -1;
    }
    ssize_t received = ::recv(fd_, buffer, size, 0);
    if (received <= 0) {
        ended_ = true;
        return 0;
    }
    return received;
}

std::string SessionClient::receive(std::size_t count, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < count) {
        long received = readSome(buffer, std::min(sizeof buffer, count - bytes.size()), end);
        if (received <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(received));
    }
    return bytes;
}

std::string SessionClient::receiveLine(std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    std::string line;
    char c = 0;
    while (readSome(&c, 1, end) > 0) {
        line += c;
        if (c == '\n') {
            break;
        }
    }
    return line;
}

std::string SessionClient::receiveBlock(std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    std::string block;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        std::string line = receiveLine(left);
        block += line;
        if (line == "\n" || line.empty() || !line.ends_with('\n')) {
            return block;
        }
    }
}

std::string SessionClient::receiveUntilEnd(std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    std::string bytes;
    char buffer[65536];
    long received = 0;
    while ((received = readSome(buffer, sizeof buffer, end)) > 0) {
        bytes.append(buffer, static_cast<std::size_t>(received));
    }
    return bytes;
}

bool SessionClient::endedByServer(std::chrono::milliseconds deadline) {
    receiveUntilEnd(deadline);
    return ended_;
}

bool SessionClient::staysQuiet(std::chrono::milliseconds quiet) {
    char c = 0;
    return readSome(&c, 1, std::chrono::steady_clock::now() + quiet) < 0;
}

void SessionClient::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void SessionClient::reset() {
    if (fd_ >= 0) {
        linger abort{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close();
    }
}

} // namespace tnw::test
