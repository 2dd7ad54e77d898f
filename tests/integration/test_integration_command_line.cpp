// plexmilld's command line, driven through the real program.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>

#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"

namespace tnw::test {
namespace {

const std::string kPlexmilld = PLEXMILLD_PATH;
const std::string kVersionLine = "Quorvex Plexmill 14.1.0 build 42604\n";

std::map<std::string, std::string> isolatedEnvironment(const TempFolder& home) {
    return {{"HOME", home.path().string()},
            {"TMPDIR", home.path().string()},
            {"XDG_CONFIG_HOME", (home / "config").string()},
            {"XDG_DATA_HOME", (home / "data").string()},
            {"PLEXMILL_MACHINE_REGISTRY", (home / "machine.reg").string()}};
}

RunResult plexmilld(std::vector<std::string> arguments) {
    TempFolder home;
    arguments.insert(arguments.begin(), kPlexmilld);
    return run(arguments, isolatedEnvironment(home));
}

// Runs plexmilld with a pseudo-terminal as its console.
RunResult plexmilldInConsole(const std::string& arguments) {
    TempFolder home;
    return run({"script", "-qec", kPlexmilld + " " + arguments, "/dev/null"}, isolatedEnvironment(home));
}

std::string helpText() { return readText(std::string(PLEXMILL_SOURCE_DIR) + "/tests/integration/data/help.txt"); }

TEST(CommandLineProgram, VersionAndHelpBytes) {
    auto version = plexmilld({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output, kVersionLine);
    EXPECT_EQ(version.errors, "");

    auto help = plexmilld({"--help", "--bogus"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.output, helpText());
    EXPECT_EQ(help.errors, "");
}

TEST(CommandLineProgram, UsageErrorsPrintOneLineAndExitOne) {
    auto result = plexmilld({"--bogus", "--help"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(std::regex_match(result.errors, std::regex(R"(\[\d{1,2}:\d\d:\d\d/\*\] Error: Unsupported option\.\n)")))
        << result.errors;

    auto second = plexmilld({"--start", "--stop"});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.errors.find("Error: Command already selected.\n"), std::string::npos);
}

TEST(CommandLineProgram, WithoutCommandInAConsoleShowsBannerAndHelp) {
    auto result = plexmilldInConsole("");
    EXPECT_EQ(result.exitCode, 0);
    // The terminal turns line feeds into CR LF.
    std::string output = std::regex_replace(result.output, std::regex("\r\n"), "\n");
    EXPECT_TRUE(output.starts_with(kVersionLine)) << output;
    EXPECT_TRUE(output.ends_with(helpText()));

    auto quiet = plexmilldInConsole("--quiet");
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(std::regex_replace(quiet.output, std::regex("\r\n"), "\n"), helpText());
}

TEST(CommandLineProgram, WithoutCommandOrConsoleSaysWhyItStops) {
    // No terminal (setsid), and not started as the service: the service dispatcher cannot
    // start, exit code 1001, of which a Linux exit status keeps the low eight bits (233).
    TempFolder home;
    auto result = run({"setsid", "--wait", kPlexmilld}, isolatedEnvironment(home));
    EXPECT_EQ(result.exitCode, 1001 % 256);
    EXPECT_EQ(result.output, "");
    EXPECT_NE(result.errors.find("Error: "), std::string::npos);

    // A marker for another service is no marker.
    auto environment = isolatedEnvironment(home);
    environment["PLEXMILL_SERVICE"] = "otherservice";
    EXPECT_EQ(run({"setsid", "--wait", kPlexmilld}, environment).exitCode, 1001 % 256);
}

TEST(CommandLineProgram, CloudModeWithoutKernelStopsBeforeAnyTraffic) {
    int listener = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(7388);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);

    auto result = plexmilld({"--cloud", "--list"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.errors, "Error: CAM kernel path or folder must be specified in cloud mode.\n");
    EXPECT_EQ(result.output, "");

    char buffer[64];
    EXPECT_EQ(::recv(listener, buffer, sizeof buffer, MSG_DONTWAIT), -1);
    ::close(listener);
}

} // namespace
} // namespace tnw::test
