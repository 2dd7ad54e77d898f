#include "monitor/service_probe.hpp"

#include "service/protocol/machine_settings.hpp"
#include "service/protocol/namespaces.hpp"
#include "util/instance_lock.hpp"
#include "util/registry.hpp"
#include "util/service_control.hpp"

namespace plexmill::monitor {

namespace {

// The tray asks on its own thread every second; a service that takes longer is not answering.
constexpr std::uint32_t kInterrogationTimeout = 500'000;

} // namespace

using tnw::util::ServiceState;

bool ServiceProbe::reportsPaused() {
    return serviceState() == static_cast<std::uint32_t>(ServiceState::Paused);
}

bool ServiceProbe::servicePaused() {
    return serverRunning() && reportsPaused();
}

bool ServiceProbe::serviceRunning() {
    auto state = serviceState();
    return state && *state != static_cast<std::uint32_t>(ServiceState::Stopped);
}

bool SystemServiceProbe::serverRunning() {
    return tnw::util::InstanceLock::isHeld(protocol::serverInstanceName());
}

std::optional<std::uint32_t> SystemServiceProbe::serviceState() {
    auto result = tnw::util::sendServiceControl(protocol::serviceControlName(),
                                                tnw::util::service_control::kInterrogate,
                                                kInterrogationTimeout);
    if (result.outcome != tnw::util::ServiceControlOutcome::Answered) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(result.reply.state);
}

bool SystemServiceProbe::httpSetting() {
    using tnw::util::Registry;
    auto key = Registry::open(tnw::util::RegistryRoot::LocalMachine,
                              protocol::kSettingsKey,
                              tnw::util::RegistryAccess::Read);
    auto value = Registry::query(key, protocol::kUseHttpValue);
    if (!value || value->type != static_cast<std::uint32_t>(tnw::util::RegistryType::Dword) ||
        value->raw.size() != 4) {
        return false;
    }
    return value->raw[0] != 0 || value->raw[1] != 0 || value->raw[2] != 0 || value->raw[3] != 0;
}

} // namespace plexmill::monitor
