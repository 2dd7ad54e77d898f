// Reading plexmilld's arguments into the process-wide settings and one command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/server/settings.hpp"

namespace plexmill::cli {

enum class Command {
    None,
    Start,
    Stop,
    Pause,
    Resume,
    Restart,
    Reload,
    DisableHttp,
    EnableHttp,
    Install,
    Uninstall,
    Cert,
    Console,
    Connect,
    IsCached,
    Status,
    List,
    CheckFirewall,
    ConfigFirewall,
};

// The ports the firewall commands open; the server itself listens on the registry's ports.
struct FirewallPorts {
    std::uint16_t sessionPort = 7387;
    std::uint16_t advertisePort = 7388;
};

struct CommandLine {
    Command command = Command::None;
    std::string targetHost = "localhost";
    std::string jobFile;
    std::string resultFile;
    std::vector<std::string> furtherFiles;
    std::string installPath;
    FirewallPorts firewallPorts;
};

// What reading the arguments ended with.
struct ParseOutcome {
    enum class Action { Run, ShowHelp, ShowVersion, Fail } action = Action::Run;
    std::string error; // for Fail: the message (printed after "Error: ")
};

// Reads argv[1..] into `line` and `settings`. Stops at the first error, or at --help or
// --version, which act as soon as they are read.
ParseOutcome parseCommandLine(int argc, const char* const* argv, CommandLine& line,
                              server::Settings& settings);

// The unsigned 32-bit decimal rule of the numeric options: digits only, not empty, at most
// 4294967295.
std::optional<std::uint32_t> parseUnsigned32(const std::string& text);

// A --rating value: the whole text a finite number (negative ones are the caller's to refuse).
std::optional<double> parseRating(const std::string& text);

// A --description text keeps only the characters 32 to 127 other than " ' < > and backslash.
std::string filterDescription(const std::string& text);

} // namespace plexmill::cli
