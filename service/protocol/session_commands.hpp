// The command words of the session protocol and the lines that open a session.
#pragma once

#include <cstddef>
#include <string_view>

namespace plexmill::protocol {

// In the order the dispatcher compares them.
enum class Command {
    Revision,
    Run,
    Application,
    User,
    Arch,
    Available,
    UsageInfo,
    Info,
    SessionInfo,
    SessionHistory,
    AcceptRemote,
    IsFileCached,
    IsCached,
    Measure,
    Kernel,
    FileCache,
    File,
    IsAlive,
    Done,
    Abort,
    Unknown,
};

// The command a whole line names: exact, upper-case words only ("INFO\r" is Unknown).
Command parseCommand(std::string_view line);

// False for the queries that monitors send all the time, so that the debug echo of received
// commands stays readable.
bool isEchoedInDebug(Command command);

// True for a first line that is exactly the current or the legacy namespace URI.
bool isHandshake(std::string_view line);

// A line holds at most this many characters before its LF; a longer one reads as empty.
inline constexpr std::size_t kMaximumLineLength = 1023;

inline constexpr std::string_view kAck = "ACK\n";
inline constexpr std::string_view kRefusal = "\n";

} // namespace plexmill::protocol
