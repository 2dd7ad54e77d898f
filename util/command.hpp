// Running another program to its end and taking what it printed: the administration commands
// ask the system's own tools (firewall-cmd, ufw, nft) instead of speaking their protocols.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tnw::util {

struct CommandResult {
    // False when the program could not be started at all; `error` then says why (a Windows
    // error number: 2 for a program that is not there).
    bool started = false;
    std::uint32_t error = 0;
    // True when the time-out ended the program.
    bool timedOut = false;
    // The exit code; 128 + the signal that ended it.
    std::uint32_t exitCode = 0;
    std::string output;
    std::string errors;

    // Started, ran to its end and exited with 0.
    bool succeeded() const { return started && !timedOut && exitCode == 0; }
};

// Runs arguments[0] (looked up on PATH) with the rest as its arguments and `input` on its
// standard input, and waits until it ends or `timeout` microseconds have passed (it is then
// killed with everything it started). Standard output and error are taken whole.
CommandResult runCommand(const std::vector<std::string>& arguments,
                         const std::string& input = {},
                         std::uint32_t timeout = 60'000'000);

} // namespace tnw::util
