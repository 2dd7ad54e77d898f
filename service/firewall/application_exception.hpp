// The product's named exception, as each firewall knows it: a firewalld service, a ufw
// application profile, nftables rules with the product's comment. The definitions are the
// files of packaging/firewall, compiled in.
#pragma once

#include "service/firewall/firewall.hpp"

#include <array>
#include <string_view>

namespace plexmill::firewall {

// The name of the exception, and of firewalld's service.
inline constexpr char kApplicationName[] = "Quorvex Plexmill";
inline constexpr char kFirewalldServiceName[] = "quorvexpmd";
// The file name the ufw profile is installed under in /etc/ufw/applications.d.
inline constexpr char kUfwProfileFileName[] = "quorvex-plexmill";

// The ports the definitions open: the default session port and discovery port.
inline constexpr std::array<Port, 2> kApplicationPorts = {
    Port{7387, Protocol::Tcp},
    Port{7388, Protocol::Udp},
};

// The firewalld service definition (XML) and the ufw application profile (INI), byte for byte
// as packaged.
std::string_view firewalldServiceDefinition();
std::string_view ufwApplicationProfile();

} // namespace plexmill::firewall
