// Protocol identifiers of the two product generations: the session handshake line, the
// discovery datagrams and the single-instance name are built from them.
#pragma once

#include <string>
#include <string_view>

namespace plexmill::protocol {

inline constexpr std::string_view kCurrentNamespace =
    "http://quorvex.example/namespace/quorvexmill/pmd";
inline constexpr std::string_view kLegacyNamespace =
    "http://tornwell.example/namespace/tornwellpmd";

inline constexpr std::string_view kRequestAdvertiseSuffix = "/request-advertise";
inline constexpr std::string_view kAdvertiseSuffix = "/advertise";

// The single-instance names (util/instance_lock.hpp) of the server and of the tray monitor;
// the monitor also tells by the server's whether a server runs on this machine.
inline std::string serverInstanceName() {
    return "Global\\" + std::string(kCurrentNamespace);
}
inline std::string monitorInstanceName() {
    return serverInstanceName() + "/monitor";
}
// Where the running service takes its controls (util/service_control.hpp).
inline std::string serviceControlName() {
    return serverInstanceName() + "/service";
}

inline constexpr unsigned kSessionPort = 7387;
inline constexpr unsigned kDiscoveryPort = 7388;

} // namespace plexmill::protocol
