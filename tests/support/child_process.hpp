// A program started by a test, with its output collected in files that the test can wait on.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tnw::test {

using namespace std::chrono_literals;

class ChildProcess {
public:
    // Starts argv with the test's environment plus `environment` (a value replaces one of
    // the same name). Standard input is /dev/null unless `input` is given.
    ChildProcess(std::vector<std::string> argv,
                 std::map<std::string, std::string> environment = {},
                 std::optional<std::string> input = std::nullopt);
    ~ChildProcess(); // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    std::string output() const; // standard output so far
    std::string errors() const; // standard error so far

    // Waits until standard output (or error) contains the text; false at the deadline.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds deadline = 10s) const;
    bool waitForError(const std::string& text, std::chrono::milliseconds deadline = 10s) const;

    void signal(int number) const;
    // The exit code (128 + signal when killed); nullopt when still running at the deadline.
    std::optional<int> wait(std::chrono::milliseconds deadline = 20s);

private:
    std::filesystem::path folder_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Runs a program to its end and returns {exit code, stdout, stderr}.
struct RunResult {
    int exitCode = -1;
    std::string output;
    std::string errors;
};
RunResult run(std::vector<std::string> argv,
              std::map<std::string, std::string> environment = {},
              std::chrono::milliseconds deadline = 60s);

std::string readText(const std::filesystem::path& path);

} // namespace tnw::test
