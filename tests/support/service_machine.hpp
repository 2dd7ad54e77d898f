// A machine for tests of plexmilld as a service: a ServerHome whose machine registry, event
// log, service folders and systemd root are the test's own, the program installed in the home,
// and a clean-up that ends a service the test left running. Only inside a private network
// namespace, which is what scopes the service's names to this test.
#pragma once

#include "tests/support/child_process.hpp"
#include "tests/support/server_process.hpp"
#include "util/registry.hpp"
#include "util/service_control.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tnw::test {

// The running service's control channel.
inline constexpr char kServiceControlName[] =
    "Global\\http://quorvex.example/namespace/quorvexmill/pmd/service";

class ServiceMachine {
public:
    ServiceMachine();
    ~ServiceMachine(); // kills a service that still answers
    ServiceMachine(const ServiceMachine&) = delete;
    ServiceMachine& operator=(const ServiceMachine&) = delete;

    ServerHome& home() { return home_; }
    // Where the tests install the program.
    std::filesystem::path installedProgram() const { return home_.path() / "bin" / "plexmilld"; }
    // The home's environment, and a rating for the service, which would otherwise measure one
    // at every start: slow on a busy test machine, and slower still under the sanitizers.
    std::map<std::string, std::string> environment() const;
    // The built plexmilld with environment() (and `environment` over it).
    RunResult plexmilld(std::vector<std::string> arguments,
                        std::map<std::string, std::string> environment = {}) const;
    // `plexmilld --install` to installedProgram(), and the test kernel in the service's
    // kernel cache.
    void install() const;

    // One control to the service; NotListening when it does not run.
    tnw::util::ServiceControlResult control(std::uint32_t code) const;
    // The service's state; stopped when nothing answers.
    tnw::util::ServiceState state() const;
    // The service's process, 0 when it does not run.
    std::uint64_t servicePid() const;
    // Waits until the service is in the state; false at the deadline.
    bool waitForState(tnw::util::ServiceState state,
                      std::chrono::milliseconds deadline = 20s) const;

    std::string events() const { return readText(home_.path() / "events.log"); }
    std::string machineRegistry() const { return readText(home_.path() / "machine.reg"); }

private:
    ServerHome home_;
};

// The value `name` of `key` in the text of a registry file; nothing when the key or the value
// is missing.
std::optional<tnw::util::RegistryValue>
registryValue(const std::string& registryText, const std::string& key, const std::string& name);

} // namespace tnw::test
