#include "service/protocol/session_commands.hpp"

#include <gtest/gtest.h>

namespace plexmill::protocol {
namespace {

TEST(SessionCommands, WordsMatchExactly) {
    const std::pair<std::string_view, Command> cases[] = {
        {"REVISION", Command::Revision},
        {"RUN", Command::Run},
        {"APPLICATION", Command::Application},
        {"USER", Command::User},
        {"ARCH", Command::Arch},
        {"AVAILABLE", Command::Available},
        {"USAGE_INFO", Command::UsageInfo},
        {"INFO", Command::Info},
        {"SESSION_INFO", Command::SessionInfo},
        {"SESSION_HISTORY", Command::SessionHistory},
        {"ACCEPT_REMOTE", Command::AcceptRemote},
        {"IS_FILE_CACHED", Command::IsFileCached},
        {"IS_CACHED", Command::IsCached},
        {"MEASURE", Command::Measure},
        {"KERNEL", Command::Kernel},
        {"FILE_CACHE", Command::FileCache},
        {"FILE", Command::File},
        {"IS_ALIVE", Command::IsAlive},
        {"DONE", Command::Done},
        {"ABORT", Command::Abort},
        {"INFO\r", Command::Unknown},
        {"info", Command::Unknown},
        {" INFO", Command::Unknown},
        {"FILE_", Command::Unknown},
        {"RUNNING", Command::Unknown},
        {std::string_view("DONE\0", 5), Command::Unknown},
        {"", Command::Unknown},
    };
    for (const auto& [line, command] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(parseCommand(line), command);
    }
}

TEST(SessionCommands, FrequentQueriesAreNotEchoed) {
    for (Command quiet : {Command::Info,
                          Command::SessionInfo,
                          Command::User,
                          Command::Application,
                          Command::Available,
                          Command::UsageInfo,
                          Command::SessionHistory}) {
        EXPECT_FALSE(isEchoedInDebug(quiet)) << static_cast<int>(quiet);
    }
    for (Command echoed : {Command::Revision,
                           Command::Run,
                           Command::Arch,
                           Command::Measure,
                           Command::Done,
                           Command::Unknown}) {
        EXPECT_TRUE(isEchoedInDebug(echoed)) << static_cast<int>(echoed);
    }
}

TEST(SessionCommands, HandshakeTakesEitherNamespaceExactly) {
    EXPECT_TRUE(isHandshake("http://quorvex.example/namespace/quorvexmill/pmd"));
    EXPECT_TRUE(isHandshake("http://tornwell.example/namespace/tornwellpmd"));
    EXPECT_FALSE(isHandshake("http://quorvex.example/namespace/quorvexmill/pmd\r"));
    EXPECT_FALSE(isHandshake("http://quorvex.example/namespace/quorvexmill/pmd/"));
    EXPECT_FALSE(isHandshake("HTTP://QUORVEX.EXAMPLE/namespace/quorvexmill/pmd"));
    EXPECT_FALSE(isHandshake(""));
    EXPECT_FALSE(isHandshake("INFO"));
}

} // namespace
} // namespace plexmill::protocol
