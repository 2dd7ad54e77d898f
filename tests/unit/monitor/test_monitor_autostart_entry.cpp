#include "monitor/autostart_entry.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/environment_scope.hpp"
#include "tests/support/temp_folder.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace plexmill::monitor {
namespace {

TEST(AutostartEntry, ExecArgumentQuoting) {
    struct Case {
        std::string path;
        std::optional<std::string> quoted;
    };
    const Case cases[] = {
        {"/usr/bin/plexmon", R"("/usr/bin/plexmon")"},
        {"/opt/Quorvex Plexmill/plexmon", R"("/opt/Quorvex Plexmill/plexmon")"},
        {"/home/a$b/`x`/\"q\"/plexmon", R"("/home/a\\$b/\\`x\\`/\\"q\\"/plexmon")"},
        {"/home/back\\slash/plexmon", R"("/home/back\\\\slash/plexmon")"},
        {"/home/100%/plexmon", R"("/home/100%%/plexmon")"},
        {"/home/line\nbreak/plexmon", std::nullopt},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.path);
        EXPECT_EQ(quotedExecArgument(test.path), test.quoted);
    }
}

// The user's configuration folder is a temporary one.
class AutostartFolder : public testing::Test {
protected:
    tnw::test::TempFolder home_;
    tnw::test::EnvironmentScope configHome_{"XDG_CONFIG_HOME", home_.path().string()};
};

TEST_F(AutostartFolder, ChoosingTwiceLeavesItAsItWas) {
    AutostartEntry entry("/opt/Quorvex Plexmill/plexmon");
    auto file = home_.path() / "autostart" / "plexmon.desktop";
    EXPECT_EQ(entry.path(), file.string());
    EXPECT_FALSE(entry.enabled());
    std::string error;
    ASSERT_TRUE(entry.enable(error)) << error;
    EXPECT_TRUE(entry.enabled());
    EXPECT_EQ(tnw::test::readText(file),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=Quorvex Plexmill Monitor\n"
              "Comment=Shows the state of the local Quorvex Plexmill server in the system tray\n"
              "Exec=\"/opt/Quorvex Plexmill/plexmon\"\n"
              "Icon=plexmon\n"
              "Terminal=false\n"
              "NoDisplay=true\n"
              "X-GNOME-Autostart-enabled=true\n");
    // Another copy of the program does not count as this one starting at logon.
    EXPECT_FALSE(AutostartEntry("/usr/bin/plexmon").enabled());
    ASSERT_TRUE(entry.disable(error)) << error;
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(entry.enabled());
    EXPECT_TRUE(entry.disable(error));
}

TEST_F(AutostartFolder, TheEntryIsAValidDesktopFile) {
    AutostartEntry entry("/home/a$b/Quorvex Plexmill 100%/plexmon");
    std::string error;
    ASSERT_TRUE(entry.enable(error)) << error;
    auto checked = tnw::test::run({"desktop-file-validate", entry.path()});
    EXPECT_EQ(checked.exitCode, 0)
        << "desktop-file-validate (desktop-file-utils) must be installed\n"
        << checked.errors;
    EXPECT_EQ(checked.output, "");
    EXPECT_EQ(checked.errors, "");
}

TEST_F(AutostartFolder, AFolderThatCannotBeMadeIsReported) {
    tnw::test::writeFile(home_.path() / "autostart", "a file where the folder belongs");
    AutostartEntry entry("/usr/bin/plexmon");
    std::string error;
    EXPECT_FALSE(entry.enable(error));
    EXPECT_EQ(error,
              "Failed to create the folder '" + (home_.path() / "autostart").string() + "'.");
    EXPECT_FALSE(entry.enabled());
    EXPECT_FALSE(AutostartEntry("/bad\npath").enable(error));
    EXPECT_EQ(error, "The program path '/bad\npath' cannot be started at logon.");
}

} // namespace
} // namespace plexmill::monitor
