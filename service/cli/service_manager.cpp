#include "service/cli/service_manager.hpp"

#include "service/cli/service_record.hpp"
#include "service/cli/systemd_unit.hpp"
#include "service/protocol/namespaces.hpp"
#include "service/server/service_identity.hpp"
#include "util/clock.hpp"
#include "util/environment.hpp"
#include "util/process.hpp"
#include "util/service_control.hpp"
#include "util/system_info.hpp"
#include "util/thread.hpp"

#include <optional>
#include <utility>
#include <vector>

namespace plexmill::cli {

namespace {

using tnw::util::ServiceState;
namespace control = tnw::util::service_control;

constexpr std::uint64_t kPendingLimit = 60'000'000; // microseconds
constexpr std::uint32_t kPollInterval = 500'000;    // microseconds
// How long a running service may take to answer one control, as the service manager allows.
constexpr std::uint32_t kControlTimeout = 30'000'000; // microseconds

// What a service started by us sees: no terminal, and of the caller's environment only what
// moves the program's own files (the PLEXMILL_ variables, and the folders systemd would give
// it), so that it runs the same whoever starts it.
constexpr char kServicePath[] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

std::vector<std::pair<std::string, std::string>> serviceEnvironment() {
    std::vector<std::pair<std::string, std::string>> environment = {{"PATH", kServicePath}};
    for (const std::string& entry : tnw::util::environmentBlock()) {
        auto equals = entry.find('=');
        std::string name = entry.substr(0, equals);
        if (equals != std::string::npos &&
            (name.starts_with("PLEXMILL_") || name == "STATE_DIRECTORY" ||
             name == "CACHE_DIRECTORY")) {
            environment.emplace_back(name, entry.substr(equals + 1));
        }
    }
    environment.emplace_back(server::kServiceMarkerVariable, server::kServiceName);
    return environment;
}

// The state of the installed service: stopped when nothing answers on its channel. Nothing
// when the service is not installed or did not answer.
std::optional<ServiceState> queryState() {
    if (!readServiceRecord()) {
        return std::nullopt;
    }
    auto result = tnw::util::sendServiceControl(
        protocol::serviceControlName(), control::kInterrogate, kControlTimeout);
    switch (result.outcome) {
    case tnw::util::ServiceControlOutcome::Answered:
        return result.reply.state;
    case tnw::util::ServiceControlOutcome::NotListening:
        return ServiceState::Stopped;
    case tnw::util::ServiceControlOutcome::Failed:
        break;
    }
    return std::nullopt;
}

// Sends a control to the installed service; false when it is not installed, does not run or
// refuses the control.
bool sendControl(std::uint32_t code) {
    if (!readServiceRecord()) {
        return false;
    }
    auto result =
        tnw::util::sendServiceControl(protocol::serviceControlName(), code, kControlTimeout);
    return result.outcome == tnw::util::ServiceControlOutcome::Answered && result.reply.error == 0;
}

bool pastDeadline(std::uint64_t deadline) {
    return tnw::util::monotonicMicroseconds() > deadline;
}

// After a control that moves the service through `pending` to `final`: true once it is there,
// or in any state but `pending`; false when a query fails or it is still pending after the
// time limit.
bool waitWhilePending(ServiceState pending, ServiceState final) {
    std::uint64_t deadline = tnw::util::monotonicMicroseconds() + kPendingLimit;
    auto state = queryState();
    if (!state) {
        return false;
    }
    while (*state == pending) {
        tnw::util::Thread::sleep(kPollInterval);
        state = queryState();
        if (!state) {
            return false;
        }
        if (*state == final) {
            return true;
        }
        if (pastDeadline(deadline)) {
            return false;
        }
    }
    return true;
}

bool controlAndWait(std::uint32_t code, ServiceState pending, ServiceState final) {
    return sendControl(code) && waitWhilePending(pending, final);
}

// Runs systemctl with the arguments and waits for it while the time limit lasts: systemctl
// returns once systemd has done the job. False when it failed or is still at work at the limit
// (systemd goes on with the job; only our wait ends).
bool systemctlWithinLimit(const std::vector<std::string>& arguments) {
    tnw::util::ProcessOptions options;
    options.arguments = systemctlCommand(arguments);
    tnw::util::Process process = tnw::util::Process::start(options);
    if (!process.isValid() || !process.resume()) {
        return false;
    }
    std::uint64_t deadline = tnw::util::monotonicMicroseconds() + kPendingLimit;
    while (process.isRunning()) {
        if (pastDeadline(deadline)) {
            process.terminate();
            return false;
        }
        tnw::util::Thread::sleep(kPollInterval);
    }
    return process.exitCode() == 0U;
}

// Launches the installed program as the service; the started process, still starting.
std::optional<tnw::util::Process> launchService(const ServiceRecord& record) {
    tnw::util::ProcessOptions options;
    options.application = programOfImagePath(record.imagePath);
    options.arguments = {options.application};
    options.environment = serviceEnvironment();
    options.inheritEnvironment = false;
    options.detached = true;
    tnw::util::Process process = tnw::util::Process::start(options);
    if (!process.isValid() || !process.resume()) {
        return std::nullopt;
    }
    return process;
}

} // namespace

bool startService() {
    auto record = readServiceRecord();
    auto state = queryState();
    // A service that runs, in any state, refuses to be started again. Only an administrator
    // may start it: it runs as the account that started it.
    if (!record || state != ServiceState::Stopped || !tnw::util::SystemInfo::isAdministrator()) {
        return false;
    }
    if (systemdDrivesService()) {
        return systemctlWithinLimit({"start", std::string(server::kServiceName) + ".service"}) &&
               queryState() == ServiceState::Running;
    }
    auto process = launchService(*record);
    if (!process) {
        return false;
    }
    std::uint64_t deadline = tnw::util::monotonicMicroseconds() + kPendingLimit;
    // Until the new process answers on its channel it is starting, as long as it lives.
    auto startingState = [&process]() -> std::optional<ServiceState> {
        auto now = queryState();
        if (now == ServiceState::Stopped && process->isRunning()) {
            return ServiceState::StartPending;
        }
        return now;
    };
    state = startingState();
    while (state == ServiceState::StartPending && !pastDeadline(deadline)) {
        tnw::util::Thread::sleep(kPollInterval);
        state = startingState();
    }
    return state == ServiceState::Running;
}

bool stopService() {
    if (systemdDrivesService()) {
        return isServiceRunning() &&
               systemctlWithinLimit({"stop", std::string(server::kServiceName) + ".service"}) &&
               queryState() == ServiceState::Stopped;
    }
    return controlAndWait(control::kStop, ServiceState::StopPending, ServiceState::Stopped);
}

bool pauseService() {
    return controlAndWait(control::kPause, ServiceState::PausePending, ServiceState::Paused);
}

bool resumeService() {
    return controlAndWait(control::kContinue, ServiceState::ContinuePending, ServiceState::Running);
}

bool isServiceRunning() {
    auto state = queryState();
    return state && *state != ServiceState::Stopped;
}

bool reloadService() {
    return sendControl(control::kFirstUserDefined);
}

bool uninstallService() {
    return readServiceRecord() && removeServiceUnit() && deleteServiceRecord();
}

bool installService(const std::string& absoluteProgram) {
    // The unit first: a machine that systemd runs has no service without it.
    bool withUnit = systemdRunsMachine();
    if (withUnit && !installServiceUnit(absoluteProgram)) {
        return false;
    }
    if (!writeServiceRecord(absoluteProgram)) {
        if (withUnit) {
            removeServiceUnit();
        }
        return false;
    }
    return true;
}

} // namespace plexmill::cli
