#include "tests/support/session_server.hpp"

#include "tests/support/session_client.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <thread>

namespace tnw::test {

SessionServer::SessionServer(std::vector<std::string> arguments,
                             const std::map<std::string, std::uint32_t>& registry,
                             const std::string& rating) {
    if (!registry.empty()) {
        home_.setMachineNumbers(registry);
    }
    arguments.insert(arguments.begin(), {"--rating", rating});
    server_ = std::make_unique<ServerProcess>(home_, arguments);
    ready_ = server_->waitUntilReady();
}

SessionServer::~SessionServer() {
    if (stopped_) {
        return;
    }
    // A sanitizer report or a crash in the server shows as another exit code.
    auto code = stop();
    if (code != 0) {
        ADD_FAILURE() << "plexmilld ended with " << (code ? std::to_string(*code) : "no exit")
                      << "\n"
                      << process().errors();
    }
}

std::optional<int> SessionServer::stop() {
    stopped_ = true;
    return server_->stop();
}

std::set<std::string> sessionFolders(const ServerHome& home) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(home.intermediateFolder())) {
        std::string name = entry.path().filename().string();
        if (name.starts_with("session-")) {
            names.insert(name);
        }
    }
    return names;
}

bool waitForNoSessionFolders(const ServerHome& home, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!sessionFolders(home).empty()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string openSessions() {
    SessionClient client;
    client.handshake();
    client.send("USAGE_INFO\n");
    std::string block = client.receiveBlock();
    std::smatch match;
    return std::regex_search(block, match, std::regex("OPEN_SESSIONS:(\\d+)\n")) ? match[1].str()
                                                                                 : block;
}

bool waitForOpenSessions(const std::string& expected, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (openSessions() != expected) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

} // namespace tnw::test
