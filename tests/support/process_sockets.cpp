#include "tests/support/process_sockets.hpp"

#include "util/handle.hpp"

#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tnw::test {

namespace {

std::optional<std::uint16_t> remotePortOf(int fd) {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
        peer.sin_family != AF_INET) {
        return std::nullopt;
    }
    return ntohs(peer.sin_port);
}

} // namespace

std::optional<bool> noDelayTowards(pid_t pid, std::uint16_t remotePort) {
    util::Handle process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (process.fd() < 0) {
        return std::nullopt;
    }
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (!target.starts_with("socket:")) {
            continue;
        }
        int number = std::stoi(entry.path().filename().string());
        util::Handle copy(static_cast<int>(::syscall(SYS_pidfd_getfd, process.fd(), number, 0)));
        if (copy.fd() < 0 || remotePortOf(copy.fd()) != remotePort) {
            continue;
        }
        int value = 0;
        socklen_t size = sizeof value;
        if (::getsockopt(copy.fd(), IPPROTO_TCP, TCP_NODELAY, &value, &size) != 0) {
            return std::nullopt;
        }
        return value != 0;
    }
    return std::nullopt;
}

std::uint64_t processorTicks(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The fields after the command name, which may itself hold blanks and parentheses.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    std::uint64_t user = 0;
    std::uint64_t system = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) {
            user = std::stoull(field);
        } else if (index == 15) {
            system = std::stoull(field);
            break;
        }
    }
    return user + system;
}

} // namespace tnw::test
