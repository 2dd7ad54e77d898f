#include "util/inet_address.hpp"

#include <cstdio>

namespace tnw::util {

std::string addressText(std::uint32_t address) {
    char text[16];
    std::snprintf(text,
                  sizeof text,
                  "%u.%u.%u.%u",
                  address >> 24,
                  (address >> 16) & 0xFFU,
                  (address >> 8) & 0xFFU,
                  address & 0xFFU);
    return text;
}

std::string InetAddress::addressText() const {
    return util::addressText(address_);
}

std::string InetAddress::toText() const {
    return addressText() + ':' + std::to_string(port_);
}

} // namespace tnw::util
