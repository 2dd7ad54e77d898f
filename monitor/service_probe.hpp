// What the tray asks of the machine rather than of the server's session port: whether a server
// runs, what state the service reports, and whether the HTTP status port is switched on.
#pragma once

#include <cstdint>
#include <optional>

namespace plexmill::monitor {

class ServiceProbe {
public:
    virtual ~ServiceProbe() = default;
    // A server (service or console) holds its instance name on this machine.
    virtual bool serverRunning() = 0;
    // The state number the service reports (1 stopped ... 7 paused); nothing when no service
    // answers.
    virtual std::optional<std::uint32_t> serviceState() = 0;
    // The machine's "use http" setting is a non-zero number.
    virtual bool httpSetting() = 0;

    bool reportsPaused();
    // A running server whose service reports itself paused.
    bool servicePaused();
    // The service answers with any state but stopped.
    bool serviceRunning();
};

class SystemServiceProbe : public ServiceProbe {
public:
    bool serverRunning() override;
    std::optional<std::uint32_t> serviceState() override;
    bool httpSetting() override;
};

} // namespace plexmill::monitor
