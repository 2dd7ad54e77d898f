#include "util/systemd_notify.hpp"

#include "util/environment.hpp"
#include "util/handle.hpp"

#include <cstring>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>

namespace tnw::util {

namespace {

inline constexpr char kNotifyVariable[] = "NOTIFY_SOCKET";

std::mutex notifierMutex;
std::string notifySocket; // guarded by notifierMutex; empty when systemd did not ask

// An absolute path, or "@name" for a name in the abstract namespace.
bool addressOf(const std::string& socket, sockaddr_un& address, socklen_t& size) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (socket.size() < 2 || socket.size() >= sizeof address.sun_path ||
        (socket[0] != '/' && socket[0] != '@')) {
        return false;
    }
    std::memcpy(address.sun_path, socket.data(), socket.size());
    if (socket[0] == '@') {
        address.sun_path[0] = '\0';
    }
    size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket.size());
    return true;
}

} // namespace

void SystemdNotifier::takeSocketFromEnvironment() {
    std::lock_guard lock(notifierMutex);
    notifySocket = getEnvironment(kNotifyVariable);
    unsetEnvironment(kNotifyVariable);
}

bool SystemdNotifier::enabled() {
    std::lock_guard lock(notifierMutex);
    return !notifySocket.empty();
}

bool SystemdNotifier::notify(std::string_view state) {
    std::lock_guard lock(notifierMutex);
    sockaddr_un address{};
    socklen_t size = 0;
    if (notifySocket.empty() || !addressOf(notifySocket, address, size)) {
        return false;
    }
    Handle socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket) {
        return false;
    }
    ssize_t sent = ::sendto(socket.fd(),
                            state.data(),
                            state.size(),
                            MSG_NOSIGNAL,
                            reinterpret_cast<const sockaddr*>(&address),
                            size);
    return sent == static_cast<ssize_t>(state.size());
}

} // namespace tnw::util
