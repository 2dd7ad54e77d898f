#include "tests/support/netns.hpp"

#include "tests/support/child_process.hpp"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tnw::test {

namespace {

constexpr const char* kNamespacePrefix = "plxt";

ino_t namespaceInode(const char* path) {
    struct stat info {};
    if (::stat(path, &info) != 0) {
        throw std::runtime_error(std::string("cannot stat ") + path + ": " + std::strerror(errno));
    }
    return info.st_ino;
}

void check(int exitCode, const std::vector<std::string>& argv) {
    if (exitCode != 0) {
        std::string line;
        for (const auto& word : argv) {
            line += word + " ";
        }
        throw std::runtime_error("command failed (" + std::to_string(exitCode) + "): " + line);
    }
}

void must(const std::vector<std::string>& argv) { check(runCommand(argv), argv); }

// Whether `ip -d link show` of the link in the namespace says `state`.
bool linkShows(const std::string& name, const std::string& link, const std::string& state) {
    return run({"ip", "-n", name, "-o", "-d", "link", "show", "dev", link}).output.find(state) !=
           std::string::npos;
}

} // namespace

int runCommand(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& word : argv) {
        args.push_back(const_cast<char*>(word.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
        return 127;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string machineNamespacePath() {
    // init's namespace is the machine's; where init cannot be inspected, the kernel threads
    // (kthreadd is PID 2) live in the same one.
    for (const char* path : {"/proc/1/ns/net", "/proc/2/ns/net"}) {
        struct stat info {};
        if (::stat(path, &info) == 0) {
            return path;
        }
    }
    throw std::runtime_error("cannot find the machine's network namespace");
}

bool inRootNetworkNamespace() {
    return namespaceInode("/proc/thread-self/ns/net") ==
           namespaceInode(machineNamespacePath().c_str());
}

void requirePrivateNetworkNamespace() {
    if (inRootNetworkNamespace()) {
        throw std::runtime_error(
            "refusing to start a server or send datagrams in the machine's own network namespace");
    }
}

void enterPrivateNetworkNamespace() {
    if (::unshare(CLONE_NEWNET) != 0) {
        throw std::runtime_error(std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno));
    }
    must({"ip", "link", "set", "lo", "up"});
    // With a source address, broadcasts carry 127.0.0.1 as their sender instead of 0.0.0.0.
    must({"ip", "route", "add", "255.255.255.255/32", "dev", "lo", "src", "127.0.0.1"});
}

void runInNamespace(const std::string& name, const std::function<void()>& work) {
    std::string path = name.starts_with("/") ? name : "/run/netns/" + name;
    std::exception_ptr failure;
    std::thread thread([&] {
        try {
            int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                throw std::runtime_error("cannot open " + path);
            }
            int joined = ::setns(fd, CLONE_NEWNET);
            ::close(fd);
            if (joined != 0) {
                throw std::runtime_error("setns " + path + ": " + std::strerror(errno));
            }
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    thread.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void removeStaleNamespaces() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/run/netns", ignored)) {
        std::string name = entry.path().filename().string();
        // Names are <prefix>-<pid>-<n>-...; a namespace whose creator is gone is left over.
        if (!name.starts_with(std::string(kNamespacePrefix) + "-")) {
            continue;
        }
        pid_t owner = static_cast<pid_t>(std::atoi(name.c_str() + std::strlen(kNamespacePrefix) + 1));
        if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH) {
            runCommand({"ip", "netns", "del", name});
        }
    }
}

namespace {
int lanCounter = 0;
}

VirtualLan::VirtualLan(int hosts) : hosts_(hosts) {
    removeStaleNamespaces();
    prefix_ = std::string(kNamespacePrefix) + "-" + std::to_string(::getpid()) + "-" +
              std::to_string(++lanCounter);
    try {
        std::string bridge = prefix_ + "-br";
        must({"ip", "netns", "add", bridge});
        must({"ip", "-n", bridge, "link", "set", "lo", "up"});
        must({"ip", "-n", bridge, "link", "add", "br0", "type", "bridge"});
        must({"ip", "-n", bridge, "link", "set", "br0", "up"});
        for (int host = 1; host <= hosts; ++host) {
            std::string name = hostNamespace(host);
            // Appended rather than `"p" + std::to_string(host)`, which GCC 12 at -O3 takes for
            // an overlapping copy (-Wrestrict, a false positive).
            std::string port = "p";
            port += std::to_string(host);
            must({"ip", "netns", "add", name});
            must({"ip", "-n", name, "link", "set", "lo", "up"});
            must({"ip", "-n", bridge, "link", "add", port, "type", "veth", "peer", "name", "eth0",
                  "netns", name});
            must({"ip", "-n", bridge, "link", "set", port, "master", "br0"});
            must({"ip", "-n", bridge, "link", "set", port, "up"});
            must({"ip", "-n", name, "addr", "add", address(host) + "/24", "dev", "eth0"});
            must({"ip", "-n", name, "link", "set", "eth0", "up"});
            must({"ip", "-n", name, "route", "add", "default", "dev", "eth0"});
        }
        waitUntilForwarding();
    } catch (...) {
        cleanup();
        throw;
    }
}

VirtualLan::~VirtualLan() { cleanup(); }

// The kernel notes that a link's carrier came up on a work queue of its own, and a bridge port
// forwards nothing before; while other namespaces are being built that waits for their lock,
// seconds on a busy machine, and datagrams sent meanwhile are lost.
void VirtualLan::waitUntilForwarding() const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int host = 1; host <= hosts_; ++host) {
        while (!linkShows(hostNamespace(host), "eth0", "state UP") ||
               !linkShows(
                   prefix_ + "-br", "p" + std::to_string(host), "bridge_slave state forwarding")) {
            if (std::chrono::steady_clock::now() > end) {
                throw std::runtime_error("the virtual LAN " + prefix_ + " does not forward");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

void VirtualLan::cleanup() {
    for (int host = 1; host <= hosts_; ++host) {
        // Programs still running on the host would keep the namespace alive: end them.
        runCommand({"sh", "-c", "ip netns pids " + hostNamespace(host) + " | xargs -r kill -9"});
        runCommand({"ip", "netns", "del", hostNamespace(host)});
    }
    runCommand({"ip", "netns", "del", prefix_ + "-br"});
}

std::string VirtualLan::hostNamespace(int host) const {
    return prefix_ + "-h" + std::to_string(host);
}

std::vector<std::string> VirtualLan::execPrefix(int host) const {
    return {"ip", "netns", "exec", hostNamespace(host)};
}

} // namespace tnw::test
