#include "tests/support/http_get.hpp"

#include "tests/support/server_process.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tnw::test {

std::string httpGet(const std::string& path,
                    std::uint16_t port,
                    const std::string& address,
                    std::chrono::milliseconds deadline) {
    const int fd = connectTcp(port, address);
    if (fd < 0) {
        return {};
    }
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + address + "\r\n\r\n";
    std::string received;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
        const auto end = std::chrono::steady_clock::now() + deadline;
        const std::string lengthKey = "\r\nContent-Length: ";
        for (;;) {
            const std::size_t headerEnd = received.find("\r\n\r\n");
            const std::size_t lengthAt = received.find(lengthKey);
            if (headerEnd != std::string::npos && lengthAt != std::string::npos &&
                lengthAt < headerEnd) {
                const std::size_t length = std::stoul(received.substr(lengthAt + lengthKey.size()));
                if (received.size() >= headerEnd + 4 + length) {
                    received = received.substr(headerEnd + 4, length);
                    break;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd readable{fd, POLLIN, 0};
            char buffer[65536];
            ssize_t count = 0;
            if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0 ||
                (count = ::recv(fd, buffer, sizeof buffer, 0)) <= 0) {
                received.clear();
                break;
            }
            received.append(buffer, static_cast<std::size_t>(count));
        }
    }
    ::close(fd);
    return received;
}

} // namespace tnw::test
