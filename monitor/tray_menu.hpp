// The tray's popup menu as data: every item, its text, its command and its state, built afresh
// from what is known at the moment the user opens it. The view only draws it.
#pragma once

#include "monitor/monitor_state.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace plexmill::monitor {

// The commands by their Windows menu identifiers; kNone for items that do nothing.
enum class MenuCommand : std::uint32_t {
    kNone = 0,
    kStart = 1,
    kStop = 2,
    kPauseOrResume = 3,
    kStartInConsole = 4,
    kEnableHttp = 5,
    kDisableHttp = 6,
    kShowStatus = 7,
    kTaskManager = 8,
    kStartOnLogon = 9,
    kEventLog = 29,
    kOpenWebsite = 32,
    kCloseMonitor = 33,
};

struct MenuItem {
    enum class Kind { kAction, kSeparator, kSubmenu };

    Kind kind = Kind::kAction;
    std::string text;
    MenuCommand command = MenuCommand::kNone;
    bool enabled = true;
    bool checkable = false;
    bool checked = false;
    bool isDefault = false;      // shown in bold
    std::vector<MenuItem> items; // of a submenu
};

struct MenuFacts {
    bool serviceRunning = false; // the service reports any state but stopped
    bool servicePaused = false;
    bool httpAvailable = false; // the server's INFO said HTTP:YES
    bool httpSetting = false;   // the machine's "use http" value
    bool startsOnLogon = false;
    // A service action launched before still runs: the service items wait for it.
    bool serviceActionRunning = false;
    SessionLists sessions;
};

std::vector<MenuItem> buildTrayMenu(const MenuFacts& facts);

} // namespace plexmill::monitor
