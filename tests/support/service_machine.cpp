#include "tests/support/service_machine.hpp"

#include "tests/support/netns.hpp"
#include "util/registry_text.hpp"

#include <signal.h>
#include <thread>

namespace tnw::test {

using tnw::util::ServiceControlOutcome;
using tnw::util::ServiceState;

ServiceMachine::ServiceMachine() {
    requirePrivateNetworkNamespace();
}

ServiceMachine::~ServiceMachine() {
    // A failed test must not leave a service behind, holding this namespace and its names.
    if (std::uint64_t pid = servicePid(); pid != 0) {
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        waitForState(ServiceState::Stopped, 10s);
    }
}

std::map<std::string, std::string> ServiceMachine::environment() const {
    auto environment = home_.environment();
    environment["PLEXMILL_RATING"] = "5000";
    return environment;
}

RunResult ServiceMachine::plexmilld(std::vector<std::string> arguments,
                                    std::map<std::string, std::string> environment) const {
    auto merged = this->environment();
    for (auto& [name, value] : environment) {
        merged[name] = value;
    }
    arguments.insert(arguments.begin(), PLEXMILLD_PATH);
    return run(arguments, merged);
}

void ServiceMachine::install() const {
    std::filesystem::create_directories(installedProgram().parent_path());
    auto result = plexmilld({"--install", installedProgram().string()});
    if (result.exitCode != 0) {
        throw std::runtime_error("plexmilld --install failed: " + result.errors);
    }
    // Jobs that name no kernel take the one at the top of the service's kernel cache.
    auto folder = home_.path() / "cache" / "Quorvex Plexmill";
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    std::filesystem::copy_file(TEST_KERNEL_PATH,
                               folder / "millcore.exe",
                               std::filesystem::copy_options::overwrite_existing);
    writeFile(folder / "millcore.dll", "");
}

tnw::util::ServiceControlResult ServiceMachine::control(std::uint32_t code) const {
    return tnw::util::sendServiceControl(kServiceControlName, code, 10'000'000);
}

ServiceState ServiceMachine::state() const {
    auto result = control(tnw::util::service_control::kInterrogate);
    return result.outcome == ServiceControlOutcome::Answered ? result.reply.state
                                                             : ServiceState::Stopped;
}

std::uint64_t ServiceMachine::servicePid() const {
    auto result = control(tnw::util::service_control::kInterrogate);
    return result.outcome == ServiceControlOutcome::Answered ? result.serviceProcessId : 0;
}

bool ServiceMachine::waitForState(ServiceState wanted, std::chrono::milliseconds deadline) const {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (state() != wanted) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::optional<tnw::util::RegistryValue>
registryValue(const std::string& registryText, const std::string& key, const std::string& name) {
    auto parsed = tnw::util::parseRegistryText(registryText);
    const auto* section = parsed.document.find(key);
    const auto* value = section ? tnw::util::RegistryDocument::findValue(*section, name) : nullptr;
    return value ? std::optional(*value) : std::nullopt;
}

} // namespace tnw::test
