#include "monitor/tray/tray_view.hpp"

#include "monitor/tray/tray_icons.hpp"
#include "util/version.hpp"

#include <QCursor>

namespace plexmill::monitor {

namespace {

constexpr int kTickMilliseconds = 1000;

} // namespace

TrayView::TrayView(MonitorState& state, ServiceProbe& probe, TrayActions& actions)
    : state_(state), probe_(probe), actions_(actions) {
    tray_.setToolTip(QString::fromUtf8(tnw::util::kProductName));
    tray_.setContextMenu(&menu_);
    QObject::connect(&menu_, &QMenu::aboutToShow, &menu_, [this] {
        state_.menuOpen = true;
        buildMenu();
    });
    QObject::connect(&menu_, &QMenu::aboutToHide, &menu_, [this] { state_.menuOpen = false; });
    // The right button opens the context menu by itself; the left one opens the same menu.
    QObject::connect(&tray_,
                     &QSystemTrayIcon::activated,
                     &menu_,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger) {
                             menu_.popup(QCursor::pos());
                         }
                     });
    timer_.setInterval(kTickMilliseconds);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { updateTray(); });
}

TrayView::~TrayView() {
    hide();
}

void TrayView::show() {
    trayAvailable_ = QSystemTrayIcon::isSystemTrayAvailable();
    updateTray();
    tray_.show();
    timer_.start();
}

void TrayView::hide() {
    timer_.stop();
    tray_.hide();
}

void TrayView::updateTray() {
    // A tray host that starts (again) has no icon of ours yet.
    bool available = QSystemTrayIcon::isSystemTrayAvailable();
    if (available && !trayAvailable_) {
        state_.reAddIcon = true;
    }
    trayAvailable_ = available;
    if (state_.menuOpen) {
        return;
    }
    TrayStatus status = animation_.next(readServerFacts(probe_, state_));
    if (shownIcon_ != status.icon) {
        tray_.setIcon(trayIconImage(status.icon));
        shownIcon_ = status.icon;
    }
    tray_.setToolTip(QString::fromStdString(status.toolTip));
    if (state_.reAddIcon.exchange(false) && tray_.isVisible()) {
        tray_.hide();
        tray_.show();
    }
}

void TrayView::buildMenu() {
    menu_.clear();
    for (QMenu* submenu : submenus_) {
        submenu->deleteLater();
    }
    submenus_.clear();
    menuFacts_ = actions_.menuFacts(state_);
    addItems(menu_, buildTrayMenu(menuFacts_));
}

void TrayView::addItems(QMenu& menu, const std::vector<MenuItem>& items) {
    for (const auto& item : items) {
        QString text = QString::fromStdString(item.text);
        switch (item.kind) {
        case MenuItem::Kind::kSeparator:
            menu.addSeparator();
            break;
        case MenuItem::Kind::kSubmenu: {
            QMenu* submenu = menu.addMenu(text);
            submenus_.push_back(submenu);
            addItems(*submenu, item.items);
            break;
        }
        case MenuItem::Kind::kAction: {
            QAction* action = menu.addAction(text);
            action->setEnabled(item.enabled);
            action->setCheckable(item.checkable);
            action->setChecked(item.checked);
            if (item.isDefault) {
                menu.setDefaultAction(action);
            }
            if (item.command != MenuCommand::kNone) {
                MenuCommand command = item.command;
                QObject::connect(action, &QAction::triggered, &menu_, [this, command] {
                    actions_.perform(command, menuFacts_);
                });
            }
            break;
        }
        }
    }
}

} // namespace plexmill::monitor
