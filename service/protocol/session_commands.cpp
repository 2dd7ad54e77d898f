#include "service/protocol/session_commands.hpp"

#include "service/protocol/namespaces.hpp"

#include <array>
#include <utility>

namespace plexmill::protocol {

namespace {

constexpr std::array<std::pair<std::string_view, Command>, 20> kWords = {{
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
}};

} // namespace

Command parseCommand(std::string_view line) {
    for (const auto& [word, command] : kWords) {
        if (line == word) {
            return command;
        }
    }
    return Command::Unknown;
}

bool isEchoedInDebug(Command command) {
    switch (command) {
    case Command::Info:
    case Command::SessionInfo:
    case Command::User:
    case Command::Application:
    case Command::Available:
    case Command::UsageInfo:
    case Command::SessionHistory:
        return false;
    default:
        return true;
    }
}

bool isHandshake(std::string_view line) {
    return line == kCurrentNamespace || line == kLegacyNamespace;
}

} // namespace plexmill::protocol
