// What the tray's actions ask of the desktop: starting programs, opening pages and files, and
// telling the user about a failure. The tray supplies the real one; tests record the requests.
#pragma once

#include "monitor/desktop_commands.hpp"

#include <functional>
#include <string>

namespace plexmill::monitor {

class DesktopShell {
public:
    virtual ~DesktopShell() = default;
    // Starts a service command without a window; `finished` runs on the tray's thread once it
    // has ended, or at once when it could not be started.
    virtual void runHidden(const Command& command, std::function<void()> finished) = 0;
    // Starts a program that lives on by itself; false when it could not be started.
    virtual bool startDetached(const Command& command) = 0;
    // Opens a web address or a local file with the user's preferred application.
    virtual bool open(const std::string& target) = 0;
    virtual void showError(const std::string& text) = 0;
};

} // namespace plexmill::monitor
