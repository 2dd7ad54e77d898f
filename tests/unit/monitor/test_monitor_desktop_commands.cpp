#include "monitor/desktop_commands.hpp"

#include <gtest/gtest.h>
#include <set>

namespace plexmill::monitor {
namespace {

// A machine with the programs of `installed` in /usr/bin.
DesktopEnvironment
machine(std::set<std::string> installed, bool administrator, std::string terminal = {}) {
    return {"/opt/plexmill",
            administrator,
            [installed](const std::string& name) {
                return installed.contains(name) ? "/usr/bin/" + name : std::string();
            },
            std::move(terminal)};
}

TEST(DesktopCommands, ServiceCommandsAskForConsentUnlessRoot) {
    EXPECT_EQ(serviceCommand(machine({"pkexec"}, false), "--start"),
              (Command{"/usr/bin/pkexec", "/opt/plexmill/plexmilld", "--start"}));
    EXPECT_EQ(serviceCommand(machine({"pkexec"}, true), "--pause"),
              (Command{"/opt/plexmill/plexmilld", "--pause"}));
    // Without pkexec plexmilld runs with the user's rights and reports what it cannot do.
    EXPECT_EQ(serviceCommand(machine({}, false), "--enablehttp"),
              (Command{"/opt/plexmill/plexmilld", "--enablehttp"}));
}

TEST(DesktopCommands, TerminalsInOrderOfPreference) {
    EXPECT_EQ(consoleCommand(machine({"x-terminal-emulator", "kitty"}, false, "kitty")),
              (Command{"/usr/bin/x-terminal-emulator",
                       "-e",
                       "/opt/plexmill/plexmilld",
                       "--run",
                       "--verbose"}));
    EXPECT_EQ(consoleCommand(machine({"kitty"}, false, "kitty")),
              (Command{"/usr/bin/kitty", "-e", "/opt/plexmill/plexmilld", "--run", "--verbose"}));
    EXPECT_EQ(consoleCommand(machine({"kitty"}, false)), Command{});
    EXPECT_EQ(consoleCommand(machine({}, false, "kitty")), Command{});
}

TEST(DesktopCommands, EventLogIsTheServicesJournal) {
    EXPECT_EQ(eventLogCommand(machine({"x-terminal-emulator", "journalctl"}, false)),
              (Command{"/usr/bin/x-terminal-emulator",
                       "-e",
                       "/usr/bin/journalctl",
                       "--identifier=Quorvex Plexmill",
                       "--pager-end"}));
    EXPECT_EQ(eventLogCommand(machine({"x-terminal-emulator"}, false)), Command{});
    EXPECT_EQ(eventLogCommand(machine({"journalctl"}, false)), Command{});
}

} // namespace
} // namespace plexmill::monitor
