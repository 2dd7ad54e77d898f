#include "monitor/tray_menu.hpp"

#include "util/version.hpp"

namespace plexmill::monitor {

namespace {

MenuItem action(std::string text, MenuCommand command, bool enabled = true) {
    MenuItem item;
    item.text = std::move(text);
    item.command = command;
    item.enabled = enabled;
    return item;
}

MenuItem separator() {
    MenuItem item;
    item.kind = MenuItem::Kind::kSeparator;
    return item;
}

MenuItem submenu(std::string text, std::vector<MenuItem> items) {
    MenuItem item;
    item.kind = MenuItem::Kind::kSubmenu;
    item.text = std::move(text);
    item.items = std::move(items);
    return item;
}

// One disabled line per session, or a single disabled "None".
MenuItem sessionList(std::string title, const std::vector<std::string>& texts) {
    std::vector<MenuItem> items;
    for (const auto& text : texts) {
        items.push_back(action(text, MenuCommand::kNone, false));
    }
    if (items.empty()) {
        items.push_back(action("None", MenuCommand::kNone, false));
    }
    return submenu(std::move(title), std::move(items));
}

} // namespace

std::vector<MenuItem> buildTrayMenu(const MenuFacts& facts) {
    bool idle = !facts.serviceActionRunning;
    std::vector<MenuItem> menu;
    MenuItem title = action(tnw::util::kProductName, MenuCommand::kNone);
    title.isDefault = true;
    menu.push_back(title);
    menu.push_back(separator());
    menu.push_back(action("Start", MenuCommand::kStart, idle && !facts.serviceRunning));
    menu.push_back(action("Stop", MenuCommand::kStop, idle && facts.serviceRunning));
    if (facts.serviceRunning) {
        menu.push_back(
            action(facts.servicePaused ? "Resume" : "Pause", MenuCommand::kPauseOrResume, idle));
    }
    menu.push_back(action("Start in Console", MenuCommand::kStartInConsole, idle));
    menu.push_back(separator());
    if (facts.httpAvailable) {
        menu.push_back(action("Show Status", MenuCommand::kShowStatus));
        menu.push_back(action("Network Task Manager", MenuCommand::kTaskManager));
    }
    menu.push_back(sessionList("Active Sessions", facts.sessions.active));
    menu.push_back(sessionList("Recent Sessions", facts.sessions.recent));
    menu.push_back(separator());
    menu.push_back(submenu(
        "Options",
        {facts.httpSetting
             ? action("Disable Network Task Manager (HTTP)", MenuCommand::kDisableHttp, idle)
             : action("Enable Network Task Manager (HTTP)", MenuCommand::kEnableHttp, idle)}));
    menu.push_back(action("Event Log", MenuCommand::kEventLog));
    menu.push_back(separator());
    MenuItem logon = action("Start Monitor on Logon", MenuCommand::kStartOnLogon);
    logon.checkable = true;
    logon.checked = facts.startsOnLogon;
    menu.push_back(logon);
    menu.push_back(action("Open Website", MenuCommand::kOpenWebsite));
    menu.push_back(action("Close Monitor", MenuCommand::kCloseMonitor));
    return menu;
}

} // namespace plexmill::monitor
