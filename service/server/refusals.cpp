#include "service/server/refusals.hpp"

#include "service/server/manager.hpp"
#include "service/server/settings.hpp"
#include "util/system_info.hpp"

namespace plexmill::server {

const std::array<RefusalName, 6>& refusalNames() {
    static const std::array<RefusalName, 6> names{{
        {Refusal::Paused, "paused", "Paused"},
        {Refusal::SessionLimit, "sessionLimit", "Session limit reached"},
        {Refusal::CpuUsage, "cpuUsage", "CPU usage above threshold"},
        {Refusal::Memory, "memory", "Available memory below minimum"},
        {Refusal::AllowedTimes, "allowedTimes", "Outside allowed times"},
        {Refusal::AllowList, "allowList", "Address not on allow list"},
    }};
    return names;
}

Refusals currentRefusals(const Manager& manager) {
    Refusals refusals;
    if (manager.serviceMode() && manager.control().paused()) {
        refusals.add(Refusal::Paused);
    }
    if (manager.countJobSessions() >= manager.config.maximumSessions) {
        refusals.add(Refusal::SessionLimit);
    }
    if (manager.cpuUsage.load() > 0.75) {
        refusals.add(Refusal::CpuUsage);
    }
    if (tnw::util::SystemInfo::memoryStatus().availablePhysical <
        manager.config.minimumSystemMemory) {
        refusals.add(Refusal::Memory);
    }
    if (!isWithinAllowedTimes()) {
        refusals.add(Refusal::AllowedTimes);
    }
    return refusals;
}

Refusals refusalsFor(Refusals server, std::optional<std::uint32_t> client) {
    Refusals refusals = server;
    if (client && !isAllowedClient(*client)) {
        refusals.add(Refusal::AllowList);
    }
    return refusals;
}

} // namespace plexmill::server
