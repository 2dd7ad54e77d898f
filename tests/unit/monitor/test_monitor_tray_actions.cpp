#include "monitor/tray_actions.hpp"
#include "tests/support/environment_scope.hpp"
#include "tests/support/monitor_fakes.hpp"
#include "tests/support/temp_folder.hpp"

#include <gtest/gtest.h>

namespace plexmill::monitor {
namespace {

class TrayActionsTest : public testing::Test {
protected:
    tnw::test::TempFolder home_;
    tnw::test::EnvironmentScope configHome_{"XDG_CONFIG_HOME", home_.path().string()};
    FakeShell shell_;
    FakeProbe probe_;
    int closed_ = 0;
    TrayActions actions_{
        shell_, probe_, AutostartEntry("/opt/plexmill/plexmon"), fakeDesktop(), [this] {
            ++closed_;
        }};
};

TEST_F(TrayActionsTest, EachCommandStartsWhatItNames) {
    struct Case {
        MenuCommand command;
        bool paused;
        std::vector<std::string> requests;
    };
    const Case cases[] = {
        {MenuCommand::kStart, false, {"hidden: /usr/bin/pkexec /opt/plexmill/plexmilld --start"}},
        {MenuCommand::kStop, false, {"hidden: /usr/bin/pkexec /opt/plexmill/plexmilld --stop"}},
        {MenuCommand::kPauseOrResume,
         false,
         {"hidden: /usr/bin/pkexec /opt/plexmill/plexmilld --pause"}},
        {MenuCommand::kPauseOrResume,
         true,
         {"hidden: /usr/bin/pkexec /opt/plexmill/plexmilld --resume"}},
        {MenuCommand::kEnableHttp,
         false,
         {"hidden: /usr/bin/pkexec /opt/plexmill/plexmilld --enablehttp"}},
        {MenuCommand::kDisableHttp,
         false,
         {"hidden: /usr/bin/pkexec /opt/plexmill/plexmilld --disablehttp"}},
        {MenuCommand::kStartInConsole,
         false,
         {"hidden: /usr/bin/pkexec /opt/plexmill/plexmilld --stop",
          "detached: /usr/bin/x-terminal-emulator -e /opt/plexmill/plexmilld --run --verbose"}},
        {MenuCommand::kShowStatus, false, {"open: http://localhost:8080"}},
        {MenuCommand::kTaskManager, false, {"open: http://localhost:8080/taskmanager"}},
        {MenuCommand::kEventLog,
         false,
         {"detached: /usr/bin/x-terminal-emulator -e /usr/bin/journalctl "
          "--identifier=Quorvex Plexmill --pager-end"}},
        {MenuCommand::kOpenWebsite, false, {"open: https://www.quorvex.example"}},
        {MenuCommand::kNone, false, {}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(static_cast<int>(test.command));
        shell_.requests.clear();
        probe_.running = true;
        probe_.state = test.paused ? 4 : 7; // the action worked
        MenuFacts facts;
        facts.servicePaused = test.paused;
        actions_.perform(test.command, facts);
        while (!shell_.pending.empty()) {
            EXPECT_TRUE(actions_.serviceActionRunning());
            shell_.finishOne();
        }
        EXPECT_FALSE(actions_.serviceActionRunning());
        EXPECT_EQ(shell_.requests, test.requests);
    }
    EXPECT_EQ(closed_, 0);
    actions_.perform(MenuCommand::kCloseMonitor, {});
    EXPECT_EQ(closed_, 1);
}

TEST_F(TrayActionsTest, PauseAndResumeThatDidNotTakeAreReported) {
    probe_.running = true;
    probe_.state = 4; // still running after --pause
    MenuFacts running;
    actions_.perform(MenuCommand::kPauseOrResume, running);
    shell_.finishOne();
    EXPECT_EQ(shell_.requests.back(), "error: Failed to pause Quorvex Plexmill.");

    probe_.state = 7; // still paused after --resume
    MenuFacts paused;
    paused.servicePaused = true;
    actions_.perform(MenuCommand::kPauseOrResume, paused);
    shell_.finishOne();
    EXPECT_EQ(shell_.requests.back(), "error: Failed to resume Quorvex Plexmill.");
    EXPECT_EQ(shell_.requests.size(), 4U);
}

TEST_F(TrayActionsTest, OneServiceCommandAtATime) {
    actions_.perform(MenuCommand::kStart, {});
    actions_.perform(MenuCommand::kStop, {});
    actions_.perform(MenuCommand::kEnableHttp, {});
    EXPECT_EQ(shell_.requests.size(), 1U);
    EXPECT_TRUE(actions_.menuFacts(MonitorState()).serviceActionRunning);
    shell_.finishOne();
    actions_.perform(MenuCommand::kStop, {});
    EXPECT_EQ(shell_.requests.back(), "hidden: /usr/bin/pkexec /opt/plexmill/plexmilld --stop");
}

TEST_F(TrayActionsTest, StartOnLogonFollowsTheMenusCheckMark) {
    MenuFacts facts = actions_.menuFacts(MonitorState());
    EXPECT_FALSE(facts.startsOnLogon);
    actions_.perform(MenuCommand::kStartOnLogon, facts);
    facts = actions_.menuFacts(MonitorState());
    EXPECT_TRUE(facts.startsOnLogon);
    actions_.perform(MenuCommand::kStartOnLogon, facts);
    EXPECT_FALSE(actions_.menuFacts(MonitorState()).startsOnLogon);
    EXPECT_FALSE(std::filesystem::exists(home_.path() / "autostart" / "plexmon.desktop"));
    EXPECT_TRUE(shell_.requests.empty());
}

TEST_F(TrayActionsTest, MenuFactsComeFromTheMachineAndThePoller) {
    MonitorState state;
    state.httpAvailable = true;
    state.handOver({"active one"}, {"recent one"});
    probe_.http = true;
    MenuFacts facts = actions_.menuFacts(state);
    EXPECT_FALSE(facts.serviceRunning);
    EXPECT_TRUE(facts.httpAvailable);
    EXPECT_TRUE(facts.httpSetting);
    // Without a running server there are no sessions to list.
    EXPECT_TRUE(facts.sessions.active.empty());
    EXPECT_TRUE(facts.sessions.recent.empty());

    probe_.running = true;
    probe_.state = 7;
    facts = actions_.menuFacts(state);
    EXPECT_TRUE(facts.serviceRunning);
    EXPECT_TRUE(facts.servicePaused);
    EXPECT_EQ(facts.sessions.active, std::vector<std::string>{"active one"});
    EXPECT_EQ(facts.sessions.recent, std::vector<std::string>{"recent one"});

    probe_.state = 1; // the service reports stopped while a console server runs
    facts = actions_.menuFacts(state);
    EXPECT_FALSE(facts.serviceRunning);
    EXPECT_FALSE(facts.servicePaused);
}

} // namespace
} // namespace plexmill::monitor
