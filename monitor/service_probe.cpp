#include "monitor/service_probe.hpp"

#include "service/protocol/machine_settings.hpp"
#include "service/protocol/namespaces.hpp"
#include "util/instance_lock.hpp"
#include "util/registry.hpp"
#include "util/service_interrogation.hpp"

namespace plexmill::monitor {

namespace {

// The tray asks on its own thread every second; a service that takes longer is not answering.
constexpr std::uint32_t kInterrogationTimeout = 500'000;

} // namespace

bool ServiceProbe::reportsPaused() {
    return serviceState() == tnw::util::service_state::kPaused;
}

bool ServiceProbe::servicePaused() {
    return serverRunning() && reportsPaused();
}

bool ServiceProbe::serviceRunning() {
    auto state = serviceState();
    return state && *state != tnw::util::service_state::kStopped;
}

bool SystemServiceProbe::serverRunning() {
    return tnw::util::InstanceLock::isHeld(protocol::serverInstanceName());
}

std::optional<std::uint32_t> SystemServiceProbe::serviceState() {
    return tnw::util::interrogateService(protocol::serviceControlName(), kInterrogationTimeout);
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
