// A plexmilld for session tests: started with a fixed rating (no benchmark), ready for
// connections, stopped at the end; and what a test reads of its sessions from outside.
#pragma once

#include "tests/support/server_process.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tnw::test {

class SessionServer {
public:
    // `registry`: REG_DWORD values of the settings key, written before the start.
    explicit SessionServer(std::vector<std::string> arguments = {},
                           const std::map<std::string, std::uint32_t>& registry = {},
                           const std::string& rating = "5000");
    ~SessionServer();

    bool ready() const { return ready_; }
    ChildProcess& process() { return server_->process(); }
    std::string output() { return process().output(); }
    ServerHome& home() { return home_; }
    // Ctrl+C, then the exit code.
    std::optional<int> stop();

private:
    ServerHome home_;
    std::unique_ptr<ServerProcess> server_;
    bool ready_ = false;
    bool stopped_ = false;
};

// The session folders ("session-" + 16 hex digits) in the server's intermediate folder.
std::set<std::string> sessionFolders(const ServerHome& home);

// A session removes its folder just before it leaves the session list.
bool waitForNoSessionFolders(const ServerHome& home, std::chrono::milliseconds deadline = 20s);

// OPEN_SESSIONS as a new session sees it (itself included).
std::string openSessions();
bool waitForOpenSessions(const std::string& expected, std::chrono::milliseconds deadline = 20s);

} // namespace tnw::test
