// Stand-ins for the machine and the desktop that the tray's actions and view talk to.
#pragma once

#include "monitor/desktop_shell.hpp"
#include "monitor/service_probe.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace plexmill::monitor {

struct FakeProbe : ServiceProbe {
    bool running = false;
    std::optional<std::uint32_t> state;
    bool http = false;

    bool serverRunning() override { return running; }
    std::optional<std::uint32_t> serviceState() override { return state; }
    bool httpSetting() override { return http; }
};

// Writes down every request; hidden commands end only when the test says so.
struct FakeShell : DesktopShell {
    std::vector<std::string> requests;
    std::vector<std::function<void()>> pending;
    bool canStart = true;

    static std::string joined(const Command& command) {
        std::string text;
        for (const auto& word : command) {
            text += (text.empty() ? "" : " ") + word;
        }
        return text;
    }
    void runHidden(const Command& command, std::function<void()> finished) override {
        requests.push_back("hidden: " + joined(command));
        pending.push_back(std::move(finished));
    }
    bool startDetached(const Command& command) override {
        requests.push_back("detached: " + joined(command));
        return canStart;
    }
    bool open(const std::string& target) override {
        requests.push_back("open: " + target);
        return true;
    }
    void showError(const std::string& text) override { requests.push_back("error: " + text); }
    // Lets the oldest hidden command end.
    void finishOne() {
        auto finished = std::move(pending.front());
        pending.erase(pending.begin());
        finished();
    }
};

// A machine with plexmilld in /opt/plexmill, pkexec, a terminal and the journal.
inline DesktopEnvironment fakeDesktop() {
    return {"/opt/plexmill",
            false,
            [](const std::string& name) {
                return name == "pkexec" || name == "x-terminal-emulator" || name == "journalctl"
                           ? "/usr/bin/" + name
                           : std::string();
            },
            {}};
}

} // namespace plexmill::monitor
