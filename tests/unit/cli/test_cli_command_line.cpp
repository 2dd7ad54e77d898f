#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "service/cli/command_line.hpp"
#include "tests/support/temp_folder.hpp"

namespace plexmill::cli {
namespace {

struct Parsed {
    ParseOutcome outcome;
    CommandLine line;
    server::Settings settings;
};

Parsed parse(std::initializer_list<std::string> arguments) {
    std::vector<const char*> argv = {"plexmilld"};
    for (const auto& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    Parsed result;
    result.outcome = parseCommandLine(static_cast<int>(argv.size()), argv.data(), result.line, result.settings);
    return result;
}

std::string errorOf(std::initializer_list<std::string> arguments) {
    auto parsed = parse(arguments);
    return parsed.outcome.action == ParseOutcome::Action::Fail ? parsed.outcome.error : "(no error)";
}

TEST(CommandLine, ErrorMessagesOfEachRule) {
    struct Case {
        std::initializer_list<std::string> arguments;
        const char* error;
    };
    const Case cases[] = {
        {{"--bogus", "--help"}, "Unsupported option."},
        {{"--HELP"}, "Unsupported option."},
        {{"-h"}, "Unsupported argument."},
        {{"-help"}, "Unsupported argument."},
        {{"help"}, "Unsupported argument."},
        {{"--start", "--stop"}, "Command already selected."},
        {{"--console", "--run"}, "Command already selected."},
        {{"--time", "0800"}, "Expecting time period."},
        {{"--time", "08:00-17:30"}, "Expecting time period."},
        {{"--time"}, "Expecting time period."},
        {{"--timeout", "-5"}, "Expecting timeout period."},
        {{"--timeout", "4294967296"}, "Expecting timeout period."},
        {{"--size", ""}, "Expecting size."},
        {{"--sessions", "0x10"}, "Expecting count."},
        {{"--port", "65536"}, "Invalid port."},
        {{"--port", "-1"}, "Invalid port."},
        {{"--port"}, "Expecting port."},
        {{"--broadcast", "70000"}, "Invalid broadcast port."},
        {{"--broadcast"}, "Expecting broadcast port."},
        {{"--rating", "-1"}, "Invalid system rating."},
        {{"--rating", "abc"}, "Expecting system rating."},
        {{"--rating", "2x"}, "Expecting system rating."},
        {{"--rating", "1e-999"}, "Expecting system rating."},
        {{"--rating", "nan"}, "Expecting system rating."},
        {{"--rating"}, "Expecting system rating."},
        {{"--allow"}, "Expecting IP address."},
        {{"--kernel"}, "Expecting CAM kernel folder."},
        {{"--kernel", "/no/such/folder"}, "Invalid CAM kernel folder."},
        {{"--include", "/no/such/folder"}, "Expecting include CAM kernel root folder."},
        {{"--lookup", "/tmp"}, "Expecting lookup file."},
        {{"--interface"}, "Expecting interface."},
        {{"--description"}, "Expecting description."},
        {{"--status", "host1", "host2"}, "Unsupported argument."},
        {{"host1", "--status"}, "Unsupported argument."},
        {{"--iscached"}, "Expecting server address."},
        {{"--connect"}, "Expecting server address."},
        {{"--install", "-x"}, "Unsupported argument."},
        {{"--list", "extra"}, "Unsupported argument."},
    };
    for (const auto& test : cases) {
        std::string line;
        for (const auto& argument : test.arguments) {
            line += argument + " ";
        }
        SCOPED_TRACE(line);
        EXPECT_EQ(errorOf(test.arguments), test.error);
    }
}

TEST(CommandLine, HelpAndVersionActAtOnce) {
    EXPECT_EQ(parse({"--help", "--bogus"}).outcome.action, ParseOutcome::Action::ShowHelp);
    EXPECT_EQ(parse({"--version", "--start", "--stop"}).outcome.action, ParseOutcome::Action::ShowVersion);
}

TEST(CommandLine, ValuesReachTheSettings) {
    auto parsed = parse({"--timeout", "90", "--size", "4096", "--sessions", "2", "--time", "0800-1730",
                         "--time", "2200-0600", "--description", "A<b>'c", "--description", " d\\\"",
                         "--rating", "0", "--port", "65535", "--allow", "10.0.0.5", "--x86", "--keep"});
    ASSERT_EQ(parsed.outcome.action, ParseOutcome::Action::Run) << parsed.outcome.error;
    EXPECT_EQ(parsed.settings.sessionTimeout, 5'400'000'000ULL);
    EXPECT_EQ(parsed.settings.maximumDataSize, 4'294'967'296ULL);
    EXPECT_EQ(parsed.settings.maximumSessionsLimit, 2U);
    ASSERT_EQ(parsed.settings.allowedTimes.size(), 2U);
    EXPECT_EQ(parsed.settings.allowedTimes[0].start, 800U);
    EXPECT_EQ(parsed.settings.allowedTimes[0].end, 1730U);
    EXPECT_EQ(parsed.settings.allowedTimes[1].start, 2200U);
    EXPECT_EQ(parsed.settings.description, "Abc d");
    EXPECT_EQ(parsed.settings.ratingOverride, 0.0);
    EXPECT_EQ(parsed.line.firewallPorts.sessionPort, 65535);
    EXPECT_EQ(parsed.settings.allowedClients.count(0x0A000005U), 1U);
    EXPECT_TRUE(parsed.settings.x86);
    EXPECT_TRUE(parsed.settings.keep);
    EXPECT_EQ(parsed.line.command, Command::None);
}

TEST(CommandLine, QuietAndVerboseInTheirOrder) {
    auto quietLast = parse({"--debug", "--quiet"});
    EXPECT_TRUE(quietLast.settings.quiet);
    EXPECT_FALSE(quietLast.settings.verbose);
    EXPECT_FALSE(quietLast.settings.debug);
    auto verboseLast = parse({"--quiet", "--debug"});
    EXPECT_TRUE(verboseLast.settings.verbose);
    EXPECT_TRUE(verboseLast.settings.debug);
}

TEST(CommandLine, PositionalArgumentsBelongToTheirCommand) {
    auto connect = parse({"--connect", "srv", "job.tornwell-job", "--verbose", "out.txt", "a.dat", "b.dat"});
    ASSERT_EQ(connect.outcome.action, ParseOutcome::Action::Run);
    EXPECT_EQ(connect.line.command, Command::Connect);
    EXPECT_EQ(connect.line.targetHost, "srv");
    EXPECT_EQ(connect.line.jobFile, "job.tornwell-job");
    EXPECT_EQ(connect.line.resultFile, "out.txt");
    EXPECT_EQ(connect.line.furtherFiles, (std::vector<std::string>{"a.dat", "b.dat"}));
    EXPECT_TRUE(connect.settings.verbose);

    auto cached = parse({"--iscached", "srv"});
    EXPECT_EQ(cached.outcome.action, ParseOutcome::Action::Run);
    EXPECT_EQ(cached.line.jobFile, "");
    auto cachedExtra = parse({"--iscached", "srv", "f", "ignored"});
    EXPECT_EQ(cachedExtra.line.jobFile, "f");

    auto status = parse({"--status"});
    EXPECT_EQ(status.line.targetHost, "");
    EXPECT_EQ(parse({"--status", "cam:7000"}).line.targetHost, "cam:7000");

    auto install = parse({"--install", "--verbose"});
    EXPECT_EQ(install.line.installPath, "");
    EXPECT_TRUE(install.settings.verbose);
    EXPECT_EQ(parse({"--install", "/opt/plexmilld"}).line.installPath, "/opt/plexmilld");

    // An option that takes a value takes the next argument whatever it looks like.
    auto description = parse({"--description", "--start"});
    EXPECT_EQ(description.line.command, Command::None);
    EXPECT_EQ(description.settings.description, "--start");
}

TEST(CommandLine, FoldersAndFilesMustExist) {
    tnw::test::TempFolder folder;
    tnw::test::writeFile(folder / "names.txt", "cam-07;Milling PC 7\n");
    auto parsed = parse({"--kernel", folder.path().string(), "--include", folder.path().string(),
                         "--include", folder.path().string(), "--lookup", (folder / "names.txt").string()});
    ASSERT_EQ(parsed.outcome.action, ParseOutcome::Action::Run) << parsed.outcome.error;
    EXPECT_EQ(parsed.settings.fixedKernel, folder.path().string());
    EXPECT_EQ(parsed.settings.includePaths.size(), 2U);
    EXPECT_EQ(parsed.settings.lookupFile, (folder / "names.txt").string());
}

TEST(CommandLine, NumericRule) {
    EXPECT_EQ(parseUnsigned32("4294967295"), 4294967295U);
    EXPECT_EQ(parseUnsigned32("0"), 0U);
    EXPECT_EQ(parseUnsigned32("4294967296"), std::nullopt);
    EXPECT_EQ(parseUnsigned32("+1"), std::nullopt);
    EXPECT_EQ(parseUnsigned32(" 1"), std::nullopt);
    EXPECT_EQ(parseUnsigned32(""), std::nullopt);
    EXPECT_EQ(parseUnsigned32("99999999999999999999"), std::nullopt);
}

} // namespace
} // namespace plexmill::cli
