// Host names, IPv4 address texts and the machine's Ethernet hardware addresses. Resolution
// failures are silent: an empty name, a zero address.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tnw::util {

// The first IPv4 address of a host name or address text; 0 when none is found. Blocks for as
// long as the system's resolver takes.
std::uint32_t resolve(const std::string& host);

// The host name of an address, or its dotted text when the address has no name; empty when the
// lookup fails outright.
std::string hostName(std::uint32_t address);

// The machine's host name; empty on failure.
std::string localHostName();

// Exactly four decimal numbers below 256 separated by "." with nothing before or after, such
// as "192.168.1.20"; nullopt for anything else.
std::optional<std::uint32_t> parseAddress(std::string_view text);

// The hardware addresses of the Ethernet-type interfaces, in interface order.
std::vector<std::vector<std::uint8_t>> ethernetAddresses();

} // namespace tnw::util
