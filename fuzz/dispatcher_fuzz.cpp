// Feeds arbitrary byte streams to a real session: the bytes arrive over a socket pair as a
// client would send them, the session's dispatcher serves them on this thread, and a drain
// thread reads whatever the server answers. Afterwards the session must have left the
// server's list and removed its folder; the sanitizers catch the rest (and leaks).
#include "service/server/capacity.hpp"
#include "service/server/manager.hpp"
#include "service/server/settings.hpp"
#include "service/session/session_thread.hpp"
#include "util/files.hpp"
#include "util/sync.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// The most a drain reads before it hangs up, so that MEASURE with a huge count ends early.
constexpr std::size_t kDrainLimit = 1 << 20;

// The server's intermediate folder for this run; removed when the fuzzer exits.
const std::string& intermediateFolder() {
    static const std::string folder = tnw::util::joinPath(
        tnw::util::tempFolder(), "plexmill-dispatcher-fuzz-" + std::to_string(::getpid()));
    return folder;
}

plexmill::server::Manager& manager() {
    static plexmill::server::Manager* instance = [] {
        auto* created = new plexmill::server::Manager;
        created->config.intermediateFolder = intermediateFolder();
        created->config.maximumSessions = 4;
        created->config.minimumSystemMemory = 0;
        return created;
    }();
    return *instance;
}

void drain(int fd) {
    char buffer[65536];
    std::size_t total = 0;
    while (total < kDrainLimit) {
        ssize_t received = ::recv(fd, buffer, sizeof buffer, 0);
        if (received <= 0) {
            break;
        }
        total += static_cast<std::size_t>(received);
    }
    ::shutdown(fd, SHUT_RD);
}

void sendAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0) {
            return;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A known rating keeps INFO from running the benchmark.
    plexmill::server::setSystemRating(1000);
    tnw::util::createFolders(intermediateFolder());
    std::atexit([] { tnw::util::removeFolder(intermediateFolder()); });
    manager();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        std::abort();
    }
    auto session = plexmill::session::createSession(
        manager(), tnw::util::Socket::adopt(ends[0]), {0x7F000001U, 7387});
    int client = ends[1];
    std::thread drainer(drain, client);
    std::thread writer([=] {
        sendAll(client, data, size);
        ::shutdown(client, SHUT_WR);
    });
    plexmill::session::runSession(*session);
    writer.join();
    drainer.join();
    ::close(client);

    {
        tnw::util::Lock lock(tnw::util::globalLock());
        if (!manager().sessions.empty()) {
            std::abort();
        }
    }
    if (tnw::util::exists(session->folder)) {
        std::abort();
    }
    return 0;
}
