// What each menu command does. Service commands run plexmilld beside the monitor and are
// followed up once it has ended; only one runs at a time, and the tray keeps updating meanwhile.
#pragma once

#include "monitor/autostart_entry.hpp"
#include "monitor/desktop_commands.hpp"
#include "monitor/desktop_shell.hpp"
#include "monitor/service_probe.hpp"
#include "monitor/tray_menu.hpp"

#include <functional>

namespace plexmill::monitor {

class TrayActions {
public:
    TrayActions(DesktopShell& shell,
                ServiceProbe& probe,
                AutostartEntry autostart,
                DesktopEnvironment environment,
                std::function<void()> closeMonitor);

    // What the menu shows when it opens now.
    MenuFacts menuFacts(const MonitorState& state);
    // Acts on a command of a menu that was built from `facts`.
    void perform(MenuCommand command, const MenuFacts& facts);
    bool serviceActionRunning() const { return serviceActionRunning_; }
    bool startsOnLogon() const { return autostart_.enabled(); }

private:
    // plexmilld with `option`; `then` runs after it has ended.
    void runService(const std::string& option, std::function<void()> then = {});
    void startInConsole();
    void toggleStartOnLogon(bool enabled);
    void showEventLog();

    DesktopShell& shell_;
    ServiceProbe& probe_;
    AutostartEntry autostart_;
    DesktopEnvironment environment_;
    std::function<void()> closeMonitor_;
    bool serviceActionRunning_ = false;
};

} // namespace plexmill::monitor
