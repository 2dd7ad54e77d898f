#include "tests/support/temp_folder.hpp"
#include "util/command.hpp"
#include "util/text_file.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <string>

namespace tnw::util {
namespace {

TEST(Command, TakesOutputErrorsAndExitCode) {
    // More than a pipe holds in each direction, so that input and output must flow together.
    std::string input(300000, 'x');
    auto result = runCommand({"sh", "-c", "cat; echo done >&2; exit 3"}, input);
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 3U);
    EXPECT_EQ(result.output, input);
    EXPECT_EQ(result.errors, "done\n");
    EXPECT_FALSE(result.succeeded());
    EXPECT_TRUE(runCommand({"true"}).succeeded());
}

TEST(Command, ProgramThatIgnoresItsInputOrIsMissing) {
    auto ignoring = runCommand({"sh", "-c", "exec 0<&-; echo ok"}, std::string(300000, 'y'));
    EXPECT_TRUE(ignoring.succeeded());
    EXPECT_EQ(ignoring.output, "ok\n");
    auto missing = runCommand({"plexmill-no-such-program"});
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(missing.error, 2U);
}

TEST(Command, TimeOutEndsTheProgramAndWhatItStarted) {
    auto start = std::chrono::steady_clock::now();
    auto result = runCommand({"sh", "-c", "sleep 30 & sleep 30"}, {}, 300000);
    EXPECT_TRUE(result.timedOut);
    EXPECT_FALSE(result.succeeded());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(TextFile, ReplacesKeepingPermissions) {
    tnw::test::TempFolder folder;
    std::string path = (folder / "config").string();
    EXPECT_FALSE(readTextFile(path).has_value());
    ASSERT_EQ(replaceFile(path, "first\n", 0755), 0U);
    EXPECT_EQ(readTextFile(path), "first\n");
    ASSERT_EQ(replaceFile(path, "second\n"), 0U);
    EXPECT_EQ(readTextFile(path), "second\n");
    EXPECT_TRUE(runCommand({"test", "-x", path}).succeeded());
    EXPECT_EQ(replaceFile((folder / "missing" / "config").string(), "x"), 3U);
    std::string temporary;
    {
        TemporaryFile file("contents");
        temporary = file.path();
        EXPECT_EQ(readTextFile(temporary), "contents");
    }
    EXPECT_FALSE(readTextFile(temporary).has_value());
}

} // namespace
} // namespace tnw::util
