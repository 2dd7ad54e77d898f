// The tray view over a fake source and a fake machine, on Qt's offscreen platform: what the
// icon, the tooltip and the menu show for each state, and what choosing an item does.
#include "monitor/tray/tray_icons.hpp"
#include "monitor/tray/tray_view.hpp"
#include "tests/support/environment_scope.hpp"
#include "tests/support/monitor_fakes.hpp"
#include "tests/support/temp_folder.hpp"

#include <QAction>
#include <QApplication>
#include <filesystem>
#include <gtest/gtest.h>

namespace plexmill::monitor {
namespace {

// One application for the whole test program, on the offscreen platform whatever the caller set.
QApplication& application() {
    static int argc = 1;
    static char name[] = "monitor_view_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return new QApplication(argc, argv);
    }();
    return *instance;
}

class TrayViewTest : public testing::Test {
protected:
    // The source's values; the probe's server runs and its service reports `serviceState`.
    void set(bool running,
             std::optional<std::uint32_t> serviceState,
             bool responded,
             bool accepting,
             std::size_t active,
             std::uint64_t total) {
        probe_.running = running;
        probe_.state = serviceState;
        state_.responded = responded;
        state_.accepting = accepting;
        state_.handOver(std::vector<std::string>(active, "session"), {});
        state_.totalSessions = total;
    }

    // The menu as lines: "---" for a separator, "Title >" and indented items for a submenu;
    // "*" marks the default item, "-" a disabled one, "[x]" and "[ ]" checkable ones.
    static std::vector<std::string> describe(const QMenu& menu, const std::string& indent = {}) {
        std::vector<std::string> lines;
        for (QAction* action : menu.actions()) {
            if (action->isSeparator()) {
                lines.push_back(indent + "---");
                continue;
            }
            std::string line = indent;
            if (action == menu.defaultAction()) {
                line += "*";
            }
            if (!action->isEnabled()) {
                line += "-";
            }
            if (action->isCheckable()) {
                line += action->isChecked() ? "[x] " : "[ ] ";
            }
            line += action->text().toStdString();
            if (action->menu()) {
                lines.push_back(line + " >");
                auto items = describe(*action->menu(), indent + "  ");
                lines.insert(lines.end(), items.begin(), items.end());
            } else {
                lines.push_back(line);
            }
        }
        return lines;
    }

    QAction* item(const QMenu& menu, const std::string& text) {
        for (QAction* action : menu.actions()) {
            if (action->text().toStdString() == text) {
                return action;
            }
            if (action->menu()) {
                if (QAction* inner = item(*action->menu(), text)) {
                    return inner;
                }
            }
        }
        return nullptr;
    }

    QApplication& application_ = application();
    tnw::test::TempFolder home_;
    tnw::test::EnvironmentScope configHome_{"XDG_CONFIG_HOME", home_.path().string()};
    MonitorState state_;
    FakeProbe probe_;
    FakeShell shell_;
    int closed_ = 0;
    TrayActions actions_{
        shell_, probe_, AutostartEntry("/opt/plexmill/plexmon"), fakeDesktop(), [this] {
            ++closed_;
        }};
    TrayView view_{state_, probe_, actions_};
};

TEST_F(TrayViewTest, EachStateShowsItsIconAndTooltip) {
    struct Case {
        bool running;
        std::optional<std::uint32_t> serviceState;
        bool responded;
        bool accepting;
        std::size_t active;
        std::uint64_t total;
        TrayIcon icon;
        std::string toolTip;
    };
    const Case cases[] = {
        {false,
         std::nullopt,
         false,
         false,
         0,
         0,
         TrayIcon::kStopped,
         "Quorvex Plexmill\nStatus: Stopped\nActive Sessions: None\nTotal Sessions: None"},
        // The poller's last word does not outweigh a server that has gone.
        {false,
         1,
         true,
         true,
         2,
         5,
         TrayIcon::kStopped,
         "Quorvex Plexmill\nStatus: Stopped\nActive Sessions: 2\nTotal Sessions: 5"},
        {true,
         7,
         true,
         false,
         0,
         5,
         TrayIcon::kPaused,
         "Quorvex Plexmill\nStatus: Paused\nActive Sessions: None\nTotal Sessions: 5"},
        {true,
         4,
         false,
         true,
         0,
         0,
         TrayIcon::kNotResponding,
         "Quorvex Plexmill\nStatus: Not responding\nActive Sessions: None\nTotal Sessions: None"},
        {true,
         std::nullopt,
         true,
         true,
         0,
         7,
         TrayIcon::kReady,
         "Quorvex Plexmill\nStatus: Ready\nActive Sessions: None\nTotal Sessions: 7"},
        {true,
         4,
         true,
         true,
         2,
         9,
         TrayIcon::kRunningAlternate,
         "Quorvex Plexmill\nStatus: Running\nActive Sessions: 2\nTotal Sessions: 9"},
        {true,
         4,
         true,
         false,
         1,
         18446744073709551615ULL,
         TrayIcon::kNotAcceptingAlternate,
         "Quorvex Plexmill\nStatus: Not accepting further requests\nActive Sessions: 1\n"
         "Total Sessions: 18446744073709551615"},
        {true,
         4,
         true,
         false,
         0,
         3,
         TrayIcon::kNotResponding,
         "Quorvex Plexmill\nStatus: Not accepting requests\nActive Sessions: None\nTotal Sessions: "
         "3"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.toolTip);
        MonitorState state;
        TrayView view(state, probe_, actions_);
        probe_.running = test.running;
        probe_.state = test.serviceState;
        state.responded = test.responded;
        state.accepting = test.accepting;
        state.handOver(std::vector<std::string>(test.active, "session"), {});
        state.totalSessions = test.total;
        view.updateTray();
        EXPECT_EQ(view.shownIcon(), test.icon);
        EXPECT_EQ(view.trayIcon().toolTip().toStdString(), test.toolTip);
        EXPECT_EQ(view.trayIcon().icon().cacheKey(), trayIconImage(test.icon).cacheKey());
    }
}

TEST_F(TrayViewTest, IconsHoldEveryTraySize) {
    for (auto icon : {TrayIcon::kReady, TrayIcon::kRunning, TrayIcon::kStopped}) {
        auto sizes = trayIconImage(icon).availableSizes();
        EXPECT_EQ(sizes.size(), 6);
        EXPECT_TRUE(sizes.contains(QSize(22, 22)));
        EXPECT_TRUE(sizes.contains(QSize(64, 64)));
    }
}

TEST_F(TrayViewTest, BusyStatesAlternateOncePerTickAndKeepStillWhileTheMenuIsOpen) {
    set(true, 4, true, true, 2, 2);
    std::vector<TrayIcon> shown;
    for (int tick = 0; tick < 4; ++tick) {
        view_.updateTray();
        shown.push_back(*view_.shownIcon());
    }
    set(true, 4, true, false, 2, 2);
    for (int tick = 0; tick < 3; ++tick) {
        view_.updateTray();
        shown.push_back(*view_.shownIcon());
    }
    // Each state's frames go on where they stopped.
    set(true, 4, true, true, 2, 2);
    view_.updateTray();
    shown.push_back(*view_.shownIcon());
    EXPECT_EQ(shown,
              (std::vector<TrayIcon>{TrayIcon::kRunningAlternate,
                                     TrayIcon::kRunning,
                                     TrayIcon::kRunningAlternate,
                                     TrayIcon::kRunning,
                                     TrayIcon::kNotAcceptingAlternate,
                                     TrayIcon::kNotAccepting,
                                     TrayIcon::kNotAcceptingAlternate,
                                     TrayIcon::kRunningAlternate}));

    state_.menuOpen = true;
    set(false, std::nullopt, false, false, 0, 0);
    view_.updateTray();
    EXPECT_EQ(view_.shownIcon(), TrayIcon::kRunningAlternate);
    state_.menuOpen = false;
    view_.updateTray();
    EXPECT_EQ(view_.shownIcon(), TrayIcon::kStopped);
}

TEST_F(TrayViewTest, MenuFollowsTheServiceTheSettingsAndTheSessions) {
    struct Case {
        std::string name;
        bool running;
        std::optional<std::uint32_t> serviceState;
        bool httpAvailable;
        bool httpSetting;
        bool logon;
        std::vector<std::string> menu;
    };
    const Case cases[] = {
        {"stopped",
         false,
         std::nullopt,
         false,
         false,
         false,
         {"*Quorvex Plexmill",
          "---",
          "Start",
          "-Stop",
          "Start in Console",
          "---",
          "Active Sessions >",
          "  -None",
          "Recent Sessions >",
          "  -None",
          "---",
          "Options >",
          "  Enable Network Task Manager (HTTP)",
          "Event Log",
          "---",
          "[ ] Start Monitor on Logon",
          "Open Website",
          "Close Monitor"}},
        {"running with HTTP",
         true,
         4,
         true,
         true,
         true,
         {"*Quorvex Plexmill",
          "---",
          "-Start",
          "Stop",
          "Pause",
          "Start in Console",
          "---",
          "Show Status",
          "Network Task Manager",
          "Active Sessions >",
          "  -[10.0.0.5]: a",
          "  -[10.0.0.6]: b",
          "Recent Sessions >",
          "  -[10.0.0.7]: c",
          "---",
          "Options >",
          "  Disable Network Task Manager (HTTP)",
          "Event Log",
          "---",
          "[x] Start Monitor on Logon",
          "Open Website",
          "Close Monitor"}},
        {"paused",
         true,
         7,
         false,
         true,
         false,
         {"*Quorvex Plexmill",
          "---",
          "-Start",
          "Stop",
          "Resume",
          "Start in Console",
          "---",
          "Active Sessions >",
          "  -[10.0.0.5]: a",
          "  -[10.0.0.6]: b",
          "Recent Sessions >",
          "  -[10.0.0.7]: c",
          "---",
          "Options >",
          "  Disable Network Task Manager (HTTP)",
          "Event Log",
          "---",
          "[ ] Start Monitor on Logon",
          "Open Website",
          "Close Monitor"}},
    };
    std::string error;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        probe_.running = test.running;
        probe_.state = test.serviceState;
        probe_.http = test.httpSetting;
        state_.httpAvailable = test.httpAvailable;
        state_.clearLists();
        state_.handOver({"[10.0.0.5]: a", "[10.0.0.6]: b"}, {"[10.0.0.7]: c"});
        AutostartEntry logon("/opt/plexmill/plexmon");
        ASSERT_TRUE(test.logon ? logon.enable(error) : logon.disable(error)) << error;
        view_.buildMenu();
        EXPECT_EQ(describe(view_.menu()), test.menu);
    }
}

TEST_F(TrayViewTest, ChoosingItemsActs) {
    set(true, 4, true, true, 0, 0);
    state_.httpAvailable = true;
    view_.buildMenu();
    item(view_.menu(), "Stop")->trigger();
    item(view_.menu(), "Network Task Manager")->trigger();
    item(view_.menu(), "Start Monitor on Logon")->trigger();
    EXPECT_EQ(shell_.requests,
              (std::vector<std::string>{"hidden: /usr/bin/pkexec /opt/plexmill/plexmilld --stop",
                                        "open: http://localhost:8080/taskmanager"}));
    EXPECT_TRUE(std::filesystem::exists(home_.path() / "autostart" / "plexmon.desktop"));

    // While the stop runs, the service items wait for it.
    view_.buildMenu();
    EXPECT_FALSE(item(view_.menu(), "Start")->isEnabled());
    EXPECT_FALSE(item(view_.menu(), "Stop")->isEnabled());
    EXPECT_FALSE(item(view_.menu(), "Pause")->isEnabled());
    EXPECT_FALSE(item(view_.menu(), "Start in Console")->isEnabled());
    EXPECT_TRUE(item(view_.menu(), "Start Monitor on Logon")->isChecked());
    shell_.finishOne();
    probe_.state = 1;
    view_.buildMenu();
    EXPECT_TRUE(item(view_.menu(), "Start")->isEnabled());
    item(view_.menu(), "Start Monitor on Logon")->trigger();
    EXPECT_FALSE(std::filesystem::exists(home_.path() / "autostart" / "plexmon.desktop"));
    item(view_.menu(), "Close Monitor")->trigger();
    EXPECT_EQ(closed_, 1);
}

TEST_F(TrayViewTest, OpeningTheMenuKeepsTheIconStillUntilItCloses) {
    set(true, 4, true, true, 0, 0);
    view_.show();
    EXPECT_EQ(view_.shownIcon(), TrayIcon::kReady);
    emit view_.menu().aboutToShow();
    EXPECT_TRUE(state_.menuOpen);
    EXPECT_EQ(describe(view_.menu()).front(), "*Quorvex Plexmill");
    set(false, std::nullopt, false, false, 0, 0);
    view_.updateTray();
    EXPECT_EQ(view_.shownIcon(), TrayIcon::kReady);
    emit view_.menu().aboutToHide();
    EXPECT_FALSE(state_.menuOpen);
    view_.updateTray();
    EXPECT_EQ(view_.shownIcon(), TrayIcon::kStopped);
    // A tray host that came back gets the icon again on the next tick.
    state_.reAddIcon = true;
    view_.updateTray();
    EXPECT_FALSE(state_.reAddIcon);
    view_.hide();
}

} // namespace
} // namespace plexmill::monitor
