// plexmilld as a service, driven the way an administrator and the tray monitor drive it: the
// real program installs itself, starts its service detached, and every command talks to the
// running service over its control channel. Each test is a machine of its own (its network
// namespace scopes the service's names).
#include "tests/support/server_process.hpp"
#include "tests/support/service_machine.hpp"
#include "tests/support/session_client.hpp"
#include "tests/support/temp_folder.hpp"

#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tnw::test {
namespace {

using tnw::util::ServiceState;
namespace control = tnw::util::service_control;

const std::string kServiceKey =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\quorvexpmd";
const std::string kEventSourceKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quorvex "
    "Plexmill";
const std::string kSettingsKey = "HKEY_LOCAL_MACHINE\\Software\\Quorvex\\Quorvex Plexmill";

// The server's answer to a discovery request sent to it directly.
std::string advertiseReply() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    timeval wait{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(7388);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string request = std::string(kLegacyNamespaceUri) + "/request-advertise\n";
    ::sendto(
        fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&server), sizeof server);
    char reply[2048];
    ssize_t got = ::recv(fd, reply, sizeof reply, 0);
    ::close(fd);
    return got > 0 ? std::string(reply, static_cast<std::size_t>(got)) : std::string();
}

// AVAILABLE over a fresh session: "ACK\n" while the server takes work, "\n" while it does not.
std::string availableAnswer() {
    SessionClient client;
    client.handshake();
    client.send("AVAILABLE\n");
    return client.receiveLine();
}

// A job through the real client; the result file's contents.
std::string runJob(ServiceMachine& machine) {
    auto job = machine.home().path() / "job";
    auto result = machine.home().path() / "result";
    writeFile(job, "copy");
    std::filesystem::remove(result);
    auto client = machine.plexmilld({"--connect", "127.0.0.1", job.string(), result.string()});
    return readText(result);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string textOf(const std::optional<tnw::util::RegistryValue>& value) {
    return value ? value->text : "(missing)";
}
std::vector<std::uint8_t> rawOf(const std::optional<tnw::util::RegistryValue>& value) {
    return value ? value->raw : std::vector<std::uint8_t>{};
}

TEST(ServiceLifecycle, InstallStartPauseReloadRestartStopUninstall) {
    ServiceMachine machine;
    std::filesystem::create_directories(machine.installedProgram().parent_path());

    // Install: the program is copied, the record names it quoted and absolute.
    auto installed = machine.plexmilld({"--install", machine.installedProgram().string()});
    ASSERT_EQ(installed.exitCode, 0) << installed.errors;
    EXPECT_EQ(installed.output, "");
    machine.install(); // the test kernel beside it, the same install again
    auto registry = machine.machineRegistry();
    EXPECT_EQ(textOf(registryValue(registry, kServiceKey, "ImagePath")),
              "\"" + machine.installedProgram().string() + "\"");
    EXPECT_EQ(rawOf(registryValue(registry, kServiceKey, "Start")),
              (std::vector<std::uint8_t>{2, 0, 0, 0}));
    EXPECT_EQ(rawOf(registryValue(registry, kServiceKey, "ErrorControl")),
              (std::vector<std::uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(textOf(registryValue(registry, kServiceKey, "DisplayName")), "Quorvex Plexmill");
    EXPECT_EQ(textOf(registryValue(registry, kServiceKey, "Description")),
              "Plexmill by Quorvex, Inc. - https://www.quorvex.example");
    EXPECT_EQ(textOf(registryValue(registry, kEventSourceKey, "EventMessageFile")),
              machine.installedProgram().string());
    EXPECT_EQ(rawOf(registryValue(registry, kEventSourceKey, "TypesSupported")),
              (std::vector<std::uint8_t>{7, 0, 0, 0}));
    EXPECT_EQ(machine.state(), ServiceState::Stopped); // --install does not start it

    // Start: it runs detached, in service mode, with its files in the service folders.
    auto start = machine.plexmilld({"--start"});
    ASSERT_EQ(start.exitCode, 0) << start.errors;
    EXPECT_EQ(start.output + start.errors, "");
    EXPECT_EQ(machine.state(), ServiceState::Running);
    EXPECT_TRUE(contains(machine.events(), "information: Quorvex Plexmill now ready.\n"))
        << machine.events();
    EXPECT_TRUE(contains(runJob(machine), "JOB copy"));
    EXPECT_TRUE(
        contains(readText(machine.home().serviceIntermediateFolder() / "access.log"), "127.0.0.1"));
    EXPECT_FALSE(std::filesystem::exists(machine.home().intermediateFolder()));

    // Pause: no new work, sockets open.
    auto pause = machine.plexmilld({"--pause"});
    EXPECT_EQ(pause.exitCode, 0) << pause.errors;
    EXPECT_EQ(machine.state(), ServiceState::Paused);
    EXPECT_TRUE(contains(advertiseReply(), "ACCEPTING:NO\n"));
    EXPECT_EQ(availableAnswer(), "\n");
    {
        SessionClient refused;
        refused.handshake();
        refused.send("RUN\n\n4\ncopy");
        EXPECT_TRUE(refused.endedByServer());
    }
    auto resume = machine.plexmilld({"--resume"});
    EXPECT_EQ(resume.exitCode, 0) << resume.errors;
    EXPECT_EQ(machine.state(), ServiceState::Running);
    EXPECT_TRUE(contains(advertiseReply(), "ACCEPTING:YES\n"));
    EXPECT_EQ(availableAnswer(), "ACK\n");

    // Reload, by SIGHUP and by control 128: the service goes on and begins a new access log,
    // as log rotation needs.
    auto log = machine.home().serviceIntermediateFolder() / "access.log";
    std::filesystem::rename(log, log.string() + ".1");
    std::uint64_t pid = machine.servicePid();
    ASSERT_NE(pid, 0U);
    ::kill(static_cast<pid_t>(pid), SIGHUP);
    auto reopened = [&] {
        for (int attempt = 0; attempt < 250 && !std::filesystem::exists(log); ++attempt) {
            std::this_thread::sleep_for(20ms);
        }
        return std::filesystem::exists(log);
    };
    EXPECT_TRUE(reopened());
    std::filesystem::rename(log, log.string() + ".2");
    auto reload = machine.plexmilld({"--reload"});
    EXPECT_EQ(reload.exitCode, 0) << reload.errors;
    EXPECT_TRUE(reopened());
    EXPECT_EQ(machine.state(), ServiceState::Running);
    EXPECT_EQ(machine.servicePid(), pid);
    EXPECT_EQ(availableAnswer(), "ACK\n");

    // Restart: a new process.
    auto restart = machine.plexmilld({"--restart"});
    EXPECT_EQ(restart.exitCode, 0) << restart.errors;
    EXPECT_EQ(machine.state(), ServiceState::Running);
    EXPECT_NE(machine.servicePid(), pid);

    // Stop with a session open: the session is aborted first, and the stop waits for it.
    SessionClient open;
    EXPECT_EQ(open.handshake(), std::string(kCurrentNamespaceUri) + "\n");
    auto stop = machine.plexmilld({"--stop"});
    EXPECT_EQ(stop.exitCode, 0) << stop.errors;
    EXPECT_TRUE(open.endedByServer(1s));
    EXPECT_EQ(machine.state(), ServiceState::Stopped);
    EXPECT_EQ(connectTcp(7387), -1);
    EXPECT_FALSE(contains(machine.events(), "error: ")) << machine.events();

    // Uninstall: the record goes; the event source and the settings stay.
    machine.plexmilld({"--enablehttp"});
    auto uninstall = machine.plexmilld({"--uninstall"});
    EXPECT_EQ(uninstall.exitCode, 0) << uninstall.errors;
    registry = machine.machineRegistry();
    EXPECT_FALSE(registryValue(registry, kServiceKey, "ImagePath"));
    EXPECT_FALSE(contains(registry, "quorvexpmd]"));
    EXPECT_TRUE(registryValue(registry, kEventSourceKey, "TypesSupported"));
    EXPECT_TRUE(registryValue(registry, kSettingsKey, "use http"));
    auto again = machine.plexmilld({"--uninstall"});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(contains(again.errors, "Error: Failed to uninstall Quorvex Plexmill service.\n"))
        << again.errors;
    auto notInstalled = machine.plexmilld({"--start"});
    EXPECT_EQ(notInstalled.exitCode, 1);
    EXPECT_TRUE(contains(notInstalled.errors, "Error: Failed to start Plexmill service.\n"));
}

// The edge cases of the commands, each on the same installed machine.
TEST(ServiceCommands, EdgeCasesOfStartStopReloadRestartAndHttp) {
    ServiceMachine machine;
    machine.install();

    // A server already running in a console: the service fails at its start, says why in the
    // event log, and --start reports the failure.
    {
        ServerProcess console(machine.home(), {"--rating", "5000"});
        ASSERT_TRUE(console.waitUntilReady());
        auto startBeside = machine.plexmilld({"--start"});
        EXPECT_EQ(startBeside.exitCode, 1);
        EXPECT_TRUE(contains(startBeside.errors, "] Error: Failed to start Plexmill service.\n"));
        EXPECT_EQ(machine.events(), "error: Quorvex Plexmill already running on this PC.\n");
        EXPECT_EQ(console.stop(), 0);
    }

    auto reloadStopped = machine.plexmilld({"--reload"});
    EXPECT_EQ(reloadStopped.exitCode, 0);
    EXPECT_EQ(reloadStopped.output + reloadStopped.errors, "");
    EXPECT_EQ(machine.state(), ServiceState::Stopped);

    auto stopStopped = machine.plexmilld({"--stop"});
    EXPECT_EQ(stopStopped.exitCode, 1);
    EXPECT_TRUE(contains(stopStopped.errors, "Error: Failed to stop Plexmill service.\n"));
    auto pauseStopped = machine.plexmilld({"--pause"});
    EXPECT_EQ(pauseStopped.exitCode, 1);
    EXPECT_TRUE(contains(pauseStopped.errors, "Error: Failed to pause Plexmill service.\n"));

    // --restart on a stopped service only starts it.
    auto restartStopped = machine.plexmilld({"--restart"});
    EXPECT_EQ(restartStopped.exitCode, 0) << restartStopped.errors;
    EXPECT_EQ(machine.state(), ServiceState::Running);
    std::uint64_t pid = machine.servicePid();

    auto startRunning = machine.plexmilld({"--start"});
    EXPECT_EQ(startRunning.exitCode, 1);
    EXPECT_TRUE(contains(startRunning.errors, "] Error: Failed to start Plexmill service.\n"))
        << startRunning.errors;
    EXPECT_EQ(machine.servicePid(), pid);

    // A console server beside the service is the second server on this machine. Its own clock
    // cuts the ten-second countdown short.
    {
        auto consoleClock = machine.home().path() / "console-clock";
        writeFile(consoleClock, "0");
        auto environment = machine.environment();
        environment["PLEXMILL_TEST_CLOCK"] = consoleClock.string();
        ChildProcess console({PLEXMILLD_PATH, "--console"}, environment);
        EXPECT_TRUE(console.waitForOutput("Waiting... (10s)"));
        writeFile(consoleClock, "60000000");
        EXPECT_EQ(console.wait(), 1);
        EXPECT_TRUE(
            contains(console.errors(), "] Error: Quorvex Plexmill already running on this PC.\n"));
        EXPECT_TRUE(contains(console.errors(), "] Error: Failed to run Quorvex Plexmill.\n"));
        EXPECT_EQ(machine.servicePid(), pid);
    }

    // --enablehttp writes "use http" and restarts the running service, which then serves HTTP;
    // a second time it neither writes nor restarts.
    auto registryFile = machine.home().path() / "machine.reg";
    auto enable = machine.plexmilld({"--enablehttp"});
    EXPECT_EQ(enable.exitCode, 0);
    EXPECT_EQ(enable.output + enable.errors, "");
    EXPECT_EQ(rawOf(registryValue(machine.machineRegistry(), kSettingsKey, "use http")),
              (std::vector<std::uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(machine.state(), ServiceState::Running);
    std::uint64_t restarted = machine.servicePid();
    EXPECT_NE(restarted, pid);
    EXPECT_TRUE(waitForPort(8080));
    struct stat before {};
    ::stat(registryFile.c_str(), &before);
    auto enableAgain = machine.plexmilld({"--enablehttp"});
    EXPECT_EQ(enableAgain.exitCode, 0);
    struct stat after {};
    ::stat(registryFile.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino); // every write replaces the file
    EXPECT_EQ(machine.servicePid(), restarted);

    // --disablehttp on a stopped service writes the value and leaves the service stopped.
    EXPECT_EQ(machine.plexmilld({"--stop"}).exitCode, 0);
    auto disable = machine.plexmilld({"--disablehttp"});
    EXPECT_EQ(disable.exitCode, 0);
    EXPECT_EQ(rawOf(registryValue(machine.machineRegistry(), kSettingsKey, "use http")),
              (std::vector<std::uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(machine.state(), ServiceState::Stopped);
}

TEST(ServiceCommands, ControlsFromAnotherUserAreRefused) {
    ServiceMachine machine;
    machine.install();
    ASSERT_EQ(machine.plexmilld({"--start"}).exitCode, 0);
    std::uint64_t pid = machine.servicePid();
    // The other user may read the registry file, so that its commands reach the service.
    std::filesystem::permissions(machine.home().path(),
                                 std::filesystem::perms::others_read |
                                     std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    std::filesystem::permissions(machine.home().path() / "machine.reg",
                                 std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    auto asNobody = [&](const std::string& command) {
        auto environment = machine.environment();
        std::vector<std::string> argv = {
            "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", PLEXMILLD_PATH, command};
        return run(argv, environment);
    };
    struct Case {
        std::string command;
        std::string message;
    };
    for (const Case& refused :
         {Case{"--pause", "Error: Failed to pause Plexmill service.\n"},
          Case{"--stop", "Error: Failed to stop Plexmill service.\n"},
          // It may ask whether the service runs, but not ask it to reload.
          Case{"--reload", "Error: Failed to request reload for Plexmill service.\n"},
          Case{"--start", "Error: Failed to start Plexmill service.\n"}}) {
        SCOPED_TRACE(refused.command);
        auto result = asNobody(refused.command);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(contains(result.errors, refused.message)) << result.errors;
        EXPECT_EQ(machine.state(), ServiceState::Running);
        EXPECT_EQ(machine.servicePid(), pid);
    }
    EXPECT_EQ(availableAnswer(), "ACK\n");
    EXPECT_EQ(machine.control(999).reply.error, 1052U);
    EXPECT_EQ(machine.plexmilld({"--stop"}).exitCode, 0);
}

TEST(ServiceCommands, InstallPaths) {
    ServiceMachine machine;
    std::filesystem::create_directories(machine.home().path() / "rel");
    auto environment = machine.environment();
    auto inHome = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(),
                         {"env", "-C", machine.home().path().string(), PLEXMILLD_PATH});
        return run(arguments, environment);
    };
    auto imagePath = [&] {
        return textOf(registryValue(machine.machineRegistry(), kServiceKey, "ImagePath"));
    };
    auto messageFile = [&] {
        return textOf(
            registryValue(machine.machineRegistry(), kEventSourceKey, "EventMessageFile"));
    };

    // A relative path: the record gets it absolute, the event source as typed.
    auto installed = inHome({"--install", "rel/plexmilld"});
    EXPECT_EQ(installed.exitCode, 0) << installed.errors;
    EXPECT_TRUE(std::filesystem::exists(machine.home().path() / "rel" / "plexmilld"));
    EXPECT_EQ(imagePath(), "\"" + (machine.home().path() / "rel" / "plexmilld").string() + "\"");
    EXPECT_EQ(messageFile(), "rel/plexmilld");

    // Without a path, or with the program's own, the program itself, not copied.
    struct stat before {};
    ASSERT_EQ(::stat(PLEXMILLD_PATH, &before), 0);
    for (const auto& arguments : {std::vector<std::string>{"--install"},
                                  std::vector<std::string>{"--install", PLEXMILLD_PATH}}) {
        SCOPED_TRACE(arguments.size());
        EXPECT_EQ(inHome(arguments).exitCode, 0);
        EXPECT_EQ(imagePath(), std::string("\"") + PLEXMILLD_PATH + "\"");
        EXPECT_EQ(messageFile(), PLEXMILLD_PATH);
        struct stat after {};
        ::stat(PLEXMILLD_PATH, &after);
        EXPECT_EQ(after.st_ino, before.st_ino);
    }

    // A copy that fails installs nothing.
    auto uninstalled = machine.plexmilld({"--uninstall"});
    EXPECT_EQ(uninstalled.exitCode, 0);
    auto failed = inHome({"--install", "missing/plexmilld"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.errors, "Error: Failed to copy service to 'missing/plexmilld'.\n");
    EXPECT_FALSE(registryValue(machine.machineRegistry(), kServiceKey, "ImagePath"));
}

// A service that stays in stop pending: this test plays the service on its control channel.
// --stop gives up after 60 seconds; --uninstall, which stops first, then keeps the service.
TEST(ServiceCommands, StopStuckInStopPendingFailsAfterSixtySeconds) {
    ServiceMachine machine;
    machine.install();
    auto listener = tnw::util::ServiceControlListener::open(kServiceControlName);
    ASSERT_TRUE(listener.isValid());
    std::atomic<int> interrogations{0};
    std::atomic<int> stops{0};
    std::atomic<bool> done{false};
    std::thread service([&] {
        while (!done) {
            listener.serveOne(
                [&](std::uint32_t code, const tnw::util::ServiceControlPeer&) {
                    stops += code == control::kStop ? 1 : 0;
                    interrogations += code == control::kInterrogate ? 1 : 0;
                    return tnw::util::ServiceControlReply{0, ServiceState::StopPending};
                },
                1'000'000);
            std::this_thread::sleep_for(5ms);
        }
    });
    auto polledMore = [&](int count) {
        for (int attempt = 0; attempt < 500 && interrogations < count; ++attempt) {
            std::this_thread::sleep_for(10ms);
        }
        return interrogations >= count;
    };
    struct Case {
        std::string command;
        std::string message;
    };
    for (const Case& stuck :
         {Case{"--stop", "Error: Failed to stop Plexmill service.\n"},
          Case{"--uninstall", "Error: Failed to stop Quorvex Plexmill service.\n"}}) {
        SCOPED_TRACE(stuck.command);
        auto clock = machine.home().path() / ("clock" + stuck.command);
        writeFile(clock, "0");
        auto environment = machine.environment();
        environment["PLEXMILL_TEST_CLOCK"] = clock.string();
        int stopsBefore = stops;
        ChildProcess command({PLEXMILLD_PATH, stuck.command}, environment);
        EXPECT_TRUE(polledMore(interrogations + 3));
        EXPECT_EQ(stops, stopsBefore + 1);
        // The few real seconds this test takes count too: 55 seconds in, it still waits.
        writeFile(clock, "55000000");
        EXPECT_TRUE(polledMore(interrogations + 2));
        EXPECT_FALSE(command.wait(0ms).has_value());
        writeFile(clock, "60000000");
        EXPECT_EQ(command.wait(10s), 1);
        EXPECT_TRUE(contains(command.errors(), stuck.message)) << command.errors();
    }
    EXPECT_TRUE(registryValue(machine.machineRegistry(), kServiceKey, "ImagePath"));
    done = true;
    service.join();
}

} // namespace
} // namespace tnw::test
