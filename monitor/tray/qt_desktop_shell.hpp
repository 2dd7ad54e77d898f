// The desktop as Qt reaches it: child processes, the user's preferred applications and
// message boxes.
#pragma once

#include "monitor/desktop_shell.hpp"

namespace plexmill::monitor {

class QtDesktopShell : public DesktopShell {
public:
    void runHidden(const Command& command, std::function<void()> finished) override;
    bool startDetached(const Command& command) override;
    bool open(const std::string& target) override;
    void showError(const std::string& text) override;
};

} // namespace plexmill::monitor
