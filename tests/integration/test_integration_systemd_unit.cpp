// The service under systemd: the unit that --install writes (checked by systemd's own tools,
// in a root of the test's own, never the machine's /etc/systemd), and the program run as that
// unit runs it, reporting to a notification socket the test holds.
#include "tests/support/service_machine.hpp"
#include "tests/support/temp_folder.hpp"

#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>
#include <regex>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tnw::test {
namespace {

using tnw::util::ServiceState;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(ServiceUnit, InstallWritesAVerifiedUnitAndUninstallRemovesIt) {
    ServiceMachine machine;
    auto root = machine.home().path() / "systemd-root";
    std::filesystem::create_directories(root / "run" / "systemd" /
                                        "system"); // systemd runs that machine
    // A path a unit file has to quote and escape.
    auto program = machine.home().path() / "opt dir" / "plex%milld$";
    std::filesystem::create_directories(program.parent_path());

    auto installed = machine.plexmilld({"--install", program.string()});
    ASSERT_EQ(installed.exitCode, 0) << installed.errors;
    auto unitFile = root / "etc" / "systemd" / "system" / "quorvexpmd.service";
    std::string unit = readText(unitFile);
    EXPECT_TRUE(contains(unit,
                         "\nExecStart=\"" + (machine.home().path() / "opt dir").string() +
                             "/plex%%milld$\"\n"))
        << unit;
    EXPECT_TRUE(contains(unit, "\nType=notify\n"));
    EXPECT_TRUE(contains(unit, "\nEnvironment=PLEXMILL_SERVICE=quorvexpmd\n"));
    EXPECT_TRUE(contains(unit, "\nStateDirectory=quorvex-plexmill\n"));
    EXPECT_TRUE(contains(unit, "\nCacheDirectory=quorvex-plexmill\n"));

    // verify exits 0 on some complaints; it has to say nothing at all.
    auto verify = run({"systemd-analyze", "verify", unitFile.string()});
    EXPECT_EQ(verify.exitCode, 0);
    EXPECT_EQ(verify.output + verify.errors, "");

    auto security = run({"systemd-analyze", "security", "--offline=yes", unitFile.string()});
    EXPECT_EQ(security.exitCode, 0) << security.errors;
    std::smatch exposure;
    ASSERT_TRUE(std::regex_search(
        security.output,
        exposure,
        std::regex(R"(Overall exposure level for quorvexpmd\.service: (\d+\.\d))")))
        << security.output;
    // The unit's comments account for what is left: root, the network, kernels' memory.
    EXPECT_LE(std::stod(exposure[1]), 2.5) << security.output;

    auto enabled = run({"systemctl", "--root=" + root.string(), "is-enabled", "quorvexpmd"});
    EXPECT_EQ(enabled.output, "enabled\n");

    // systemd of another root does not run here: the service is started as without systemd.
    auto start = machine.plexmilld({"--start"});
    EXPECT_EQ(start.exitCode, 0) << start.errors;
    EXPECT_EQ(machine.state(), ServiceState::Running);

    auto uninstalled = machine.plexmilld({"--uninstall"});
    EXPECT_EQ(uninstalled.exitCode, 0) << uninstalled.errors;
    EXPECT_EQ(machine.state(), ServiceState::Stopped);
    EXPECT_FALSE(std::filesystem::exists(unitFile));
    EXPECT_FALSE(std::filesystem::exists(
        root / "etc/systemd/system/multi-user.target.wants/quorvexpmd.service"));
    auto gone = run({"systemctl", "--root=" + root.string(), "is-enabled", "quorvexpmd"});
    EXPECT_NE(gone.exitCode, 0);
    EXPECT_NE(gone.output, "enabled\n");
}

// The program as the unit starts it: no terminal, no arguments, the marker, and a
// notification socket. It says when it is ready, takes SIGHUP as a reload, says when it
// stops on SIGTERM, and writes nothing to its standard streams.
TEST(ServiceUnit, RunsAsTheUnitStartsItAndReportsToSystemd) {
    ServiceMachine machine;
    int notifications = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    std::string name = "plexmill-test-notify-" + std::to_string(::getpid());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    ASSERT_EQ(::bind(notifications,
                     reinterpret_cast<sockaddr*>(&address),
                     static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())),
              0);
    timeval wait{20, 0};
    ::setsockopt(notifications, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    auto next = [&] {
        char buffer[512];
        ssize_t got = ::recv(notifications, buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
    };

    auto environment = machine.environment();
    environment["PLEXMILL_SERVICE"] = "quorvexpmd";
    environment["NOTIFY_SOCKET"] = "@" + name;
    // setsid: whatever terminal the test runs in, the service has none.
    ChildProcess service({"setsid", "--wait", PLEXMILLD_PATH}, environment);
    EXPECT_EQ(next(), "READY=1\nSTATUS=Running");
    EXPECT_EQ(machine.state(), ServiceState::Running);
    std::uint64_t pid = machine.servicePid();
    ASSERT_NE(pid, 0U);

    ::kill(static_cast<pid_t>(pid), SIGHUP);
    EXPECT_EQ(machine.state(), ServiceState::Running);
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    EXPECT_EQ(next(), "STOPPING=1\nSTATUS=Stopping");
    EXPECT_EQ(service.wait(), 0);
    EXPECT_EQ(service.output() + service.errors(), "");
    EXPECT_EQ(machine.events(), "information: Quorvex Plexmill now ready.\n");
    ::close(notifications);
}

} // namespace
} // namespace tnw::test
