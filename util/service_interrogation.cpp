#include "util/service_interrogation.hpp"

#include "util/clock.hpp"
#include "util/handle.hpp"
#include "util/sync.hpp"

#include <cerrno>
#include <cstring>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>

namespace tnw::util {

namespace {

// A reply longer than this is not one.
constexpr std::size_t kMaximumReply = 64;

} // namespace

std::optional<std::uint32_t> interrogateService(const std::string& name, std::uint32_t timeout) {
    Handle socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket) {
        return std::nullopt;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Abstract names start with a NUL byte; longer names are cut to what the address can hold.
    std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);
    auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::connect(socket.fd(), reinterpret_cast<sockaddr*>(&address), size) != 0) {
        return std::nullopt;
    }
    const char request[] = "4\n";
    if (::send(socket.fd(), request, sizeof request - 1, MSG_NOSIGNAL) != sizeof request - 1) {
        return std::nullopt;
    }
    std::uint64_t deadline = monotonicMicroseconds() + timeout;
    std::string reply;
    while (reply.find('\n') == std::string::npos && reply.size() < kMaximumReply) {
        std::uint64_t now = monotonicMicroseconds();
        if (now >= deadline || !waitForHandle(socket, static_cast<std::uint32_t>(deadline - now))) {
            return std::nullopt;
        }
        char buffer[kMaximumReply];
        ssize_t received = ::recv(socket.fd(), buffer, sizeof buffer, 0);
        if (received == 0 || (received < 0 && errno != EAGAIN && errno != EINTR)) {
            return std::nullopt;
        }
        if (received > 0) {
            reply.append(buffer, static_cast<std::size_t>(received));
        }
    }
    std::istringstream fields(reply.substr(0, reply.find('\n')));
    std::uint32_t error = 0;
    std::uint32_t state = 0;
    if (!(fields >> error >> state) || !fields.eof()) {
        return std::nullopt;
    }
    return state;
}

} // namespace tnw::util
