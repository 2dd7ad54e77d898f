// Protocol identifiers of the two product generations: the session handshake line, the
// discovery datagrams and the single-instance name are built from them.
#pragma once

#include <string_view>

namespace plexmill::protocol {

inline constexpr std::string_view kCurrentNamespace = "http://quorvex.example/namespace/quorvexmill/pmd";
inline constexpr std::string_view kLegacyNamespace = "http://tornwell.example/namespace/tornwellpmd";

inline constexpr std::string_view kRequestAdvertiseSuffix = "/request-advertise";
inline constexpr std::string_view kAdvertiseSuffix = "/advertise";

inline constexpr unsigned kSessionPort = 7387;
inline constexpr unsigned kDiscoveryPort = 7388;

} // namespace plexmill::protocol
