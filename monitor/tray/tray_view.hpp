// The tray icon, its tooltip and its popup menu. Every second the icon and the tip show what
// the polling thread and the machine report (except while the menu is open); the menu is built
// afresh whenever it opens, by a click of either button.
#pragma once

#include "monitor/monitor_state.hpp"
#include "monitor/service_probe.hpp"
#include "monitor/tray_actions.hpp"
#include "monitor/tray_menu.hpp"
#include "monitor/tray_status.hpp"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <optional>
#include <vector>

namespace plexmill::monitor {

class TrayView {
public:
    TrayView(MonitorState& state, ServiceProbe& probe, TrayActions& actions);
    ~TrayView();
    TrayView(const TrayView&) = delete;
    TrayView& operator=(const TrayView&) = delete;

    // Puts the icon in the tray, sets its first image and starts the one-second timer.
    void show();
    void hide();

    // One timer tick.
    void updateTray();
    // Fills the menu as the user would see it now.
    void buildMenu();

    QSystemTrayIcon& trayIcon() { return tray_; }
    QMenu& menu() { return menu_; }
    std::optional<TrayIcon> shownIcon() const { return shownIcon_; }

private:
    void addItems(QMenu& menu, const std::vector<MenuItem>& items);

    MonitorState& state_;
    ServiceProbe& probe_;
    TrayActions& actions_;
    QSystemTrayIcon tray_;
    QMenu menu_;
    QTimer timer_;
    TrayAnimation animation_;
    std::optional<TrayIcon> shownIcon_;
    bool trayAvailable_ = false;
    // What the shown menu was built from: the commands act on it.
    MenuFacts menuFacts_;
    std::vector<QMenu*> submenus_;
};

} // namespace plexmill::monitor
