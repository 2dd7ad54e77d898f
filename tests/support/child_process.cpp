#include "tests/support/child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/temp_folder.hpp"

extern char** environ;

namespace tnw::test {

std::string readText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

namespace {

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        auto equals = text.find('=');
        if (equals != std::string::npos) {
            merged[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : extra) {
        merged[name] = value;
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : merged) {
        result.push_back(name + "=" + value);
    }
    return result;
}

bool waitForText(const std::filesystem::path& path, const std::string& text,
                 std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (readText(path).find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return readText(path).find(text) != std::string::npos;
}

} // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv,
                           std::map<std::string, std::string> environment,
                           std::optional<std::string> input)
    : folder_(makeTempFolder("child")) {
    std::string inputPath = "/dev/null";
    if (input) {
        inputPath = (folder_ / "stdin").string();
        std::ofstream(inputPath, std::ios::binary) << *input;
    }
    std::string outPath = (folder_ / "stdout").string();
    std::string errPath = (folder_ / "stderr").string();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inputPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group, so a signal the test sends reaches only the child; default
    // signal handling whatever the test runner set up.
    sigset_t all;
    sigfillset(&all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

    std::vector<char*> args;
    for (auto& word : argv) {
        args.push_back(word.data());
    }
    args.push_back(nullptr);
    auto envText = mergedEnvironment(environment);
    std::vector<char*> env;
    for (auto& entry : envText) {
        env.push_back(entry.data());
    }
    env.push_back(nullptr);

    int failed = ::posix_spawnp(&pid_, args[0], &actions, &attributes, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(failed));
    }
}

ChildProcess::~ChildProcess() {
    if (!status_) {
        ::kill(pid_, SIGKILL);
        wait(5s);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string ChildProcess::output() const { return readText(folder_ / "stdout"); }
std::string ChildProcess::errors() const { return readText(folder_ / "stderr"); }

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds deadline) const {
    return waitForText(folder_ / "stdout", text, deadline);
}

bool ChildProcess::waitForError(const std::string& text, std::chrono::milliseconds deadline) const {
    return waitForText(folder_ / "stderr", text, deadline);
}

void ChildProcess::signal(int number) const {
    if (!status_) {
        ::kill(pid_, number);
    }
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds deadline) {
    if (status_) {
        return status_;
    }
    auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(10ms);
    }
}

RunResult run(std::vector<std::string> argv, std::map<std::string, std::string> environment,
              std::chrono::milliseconds deadline) {
    ChildProcess child(std::move(argv), std::move(environment));
    auto code = child.wait(deadline);
    RunResult result;
    result.exitCode = code.value_or(-1);
    result.output = child.output();
    result.errors = child.errors();
    return result;
}

} // namespace tnw::test
