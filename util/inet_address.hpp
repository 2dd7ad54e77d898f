// An IPv4 address and port as the rest of the program sees them: the address in host order
// (a.b.c.d is a*2^24 + b*2^16 + c*2^8 + d), converted to network order only at the socket calls.
#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace tnw::util {

class InetAddress {
public:
    static constexpr std::uint32_t kAny = 0;
    static constexpr std::uint32_t kLoopback = 0x7F000001U;
    static constexpr std::uint32_t kBroadcast = 0xFFFFFFFFU;

    constexpr InetAddress() = default;
    constexpr InetAddress(std::uint32_t address, std::uint16_t port)
        : address_(address), port_(port) {}

    constexpr std::uint32_t address() const { return address_; }
    constexpr std::uint16_t port() const { return port_; }
    // The all-zero value means "no address".
    constexpr bool isZero() const { return address_ == 0 && port_ == 0; }

    // "a.b.c.d"
    std::string addressText() const;
    // "a.b.c.d:port"
    std::string toText() const;

    friend constexpr auto operator<=>(const InetAddress&, const InetAddress&) = default;

private:
    std::uint32_t address_ = 0;
    std::uint16_t port_ = 0;
};

// "a.b.c.d" of a host-order address.
std::string addressText(std::uint32_t address);

} // namespace tnw::util
