#include "tests/support/server_process.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "tests/support/netns.hpp"

namespace tnw::test {

void installTestKernel(const std::filesystem::path& folder, bool withLibrary) {
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(
        TEST_KERNEL_PATH, folder / "millcore.exe", std::filesystem::copy_options::overwrite_existing);
    if (withLibrary) {
        writeFile(folder / "millcore.dll", "");
    }
}

ServerHome::ServerHome() : folder_("plexmilld") {
    std::filesystem::create_directories(path() / "tmp");
    advanceClock(0);
    // An idle machine, whatever the test machine is doing.
    writeFile(path() / "proc_stat", "cpu  100 0 100 100000 0 0 0 0 0 0\n");
}

std::map<std::string, std::string> ServerHome::environment() const {
    return {{"HOME", path().string()},
            {"TMPDIR", (path() / "tmp").string()},
            {"XDG_CONFIG_HOME", (path() / "config").string()},
            {"XDG_DATA_HOME", (path() / "data").string()},
            {"PLEXMILL_MACHINE_REGISTRY", (path() / "machine.reg").string()},
            {"PLEXMILL_USER_REGISTRY", (path() / "user.reg").string()},
            {"PLEXMILL_EVENT_LOG", (path() / "events.log").string()},
            {"PLEXMILL_TEST_CLOCK", (path() / "clock").string()},
            {"PLEXMILL_PROC_STAT", (path() / "proc_stat").string()},
            // A service keeps its files where systemd would put them; here, in the home.
            {"STATE_DIRECTORY", (path() / "state").string()},
            {"CACHE_DIRECTORY", (path() / "cache").string()},
            // Never the machine's own /etc/systemd: a systemd unit goes below the home.
            {"PLEXMILL_SYSTEMD_ROOT", (path() / "systemd-root").string()}};
}

void ServerHome::setMachineNumbers(const std::map<std::string, std::uint32_t>& values) const {
    std::string text = "Windows Registry Editor Version 5.00\n\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\Quorvex Plexmill]\n";
    for (const auto& [name, value] : values) {
        char number[16];
        std::snprintf(number, sizeof number, "%08x", value);
        text += "\"" + name + "\"=dword:" + number + "\n";
    }
    writeFile(path() / "machine.reg", text);
}

void ServerHome::advanceClock(std::uint64_t microseconds) {
    shift_ += microseconds;
    auto temporary = path() / "clock.new";
    writeFile(temporary, std::to_string(shift_));
    std::filesystem::rename(temporary, path() / "clock");
}

ServerProcess::ServerProcess(ServerHome& home, std::vector<std::string> arguments, std::vector<std::string> prefix) {
    if (prefix.empty()) {
        requirePrivateNetworkNamespace();
    }
    std::vector<std::string> argv = std::move(prefix);
    argv.push_back(PLEXMILLD_PATH);
    argv.push_back("--console");
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    process_ = std::make_unique<ChildProcess>(argv, home.environment());
}

bool ServerProcess::waitUntilReady(std::chrono::milliseconds deadline) const {
    return process_->waitForOutput("Quorvex Plexmill now ready.", deadline);
}

std::optional<int> ServerProcess::stop() {
    process_->signal(SIGINT);
    return process_->wait(30s);
}

int connectTcp(std::uint16_t port, const std::string& address) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &target.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool waitForPort(std::uint16_t port, std::chrono::milliseconds deadline, const std::string& address) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        int fd = connectTcp(port, address);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

} // namespace tnw::test
