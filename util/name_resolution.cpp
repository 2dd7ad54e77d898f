#include "util/name_resolution.hpp"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <memory>
#include <net/if_arp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tnw::util {

std::uint32_t resolve(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (status == EAI_AGAIN) {
        status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    }
    if (status != 0) {
        return 0;
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
            return ntohl(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr);
        }
    }
    return 0;
}

std::string hostName(std::uint32_t address) {
    sockaddr_in inet{};
    inet.sin_family = AF_INET;
    inet.sin_addr.s_addr = htonl(address);
    char name[NI_MAXHOST];
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&inet),
                      sizeof inet,
                      name,
                      sizeof name,
                      nullptr,
                      0,
                      0) != 0) {
        return {};
    }
    return name;
}

std::string localHostName() {
    char name[1024];
    if (::gethostname(name, sizeof name) != 0) {
        return {};
    }
    name[sizeof name - 1] = '\0'; // gethostname need not terminate a truncated name
    return name;
}

std::optional<std::uint32_t> parseAddress(std::string_view text) {
    std::uint32_t address = 0;
    std::size_t position = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (position >= text.size() || text[position] != '.') {
                return std::nullopt;
            }
            ++position;
        }
        std::size_t start = position;
        std::uint32_t number = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
            number = number * 10 + static_cast<std::uint32_t>(text[position] - '0');
            if (number > 255) {
                return std::nullopt;
            }
            ++position;
        }
        if (position == start) {
            return std::nullopt;
        }
        address = address << 8 | number;
    }
    if (position != text.size()) {
        return std::nullopt;
    }
    return address;
}

std::vector<std::vector<std::uint8_t>> ethernetAddresses() {
    // Netlink (behind getifaddrs) sees the caller's network namespace; /sys/class/net shows
    // the namespace it was mounted in, which need not be ours.
    std::vector<std::vector<std::uint8_t>> addresses;
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0) {
        return addresses;
    }
    std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(interfaces, &::freeifaddrs);
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) {
            continue;
        }
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        if (link->sll_hatype == ARPHRD_ETHER && link->sll_halen >= 1 &&
            link->sll_halen <= sizeof link->sll_addr) {
            addresses.emplace_back(link->sll_addr, link->sll_addr + link->sll_halen);
        }
    }
    return addresses;
}

} // namespace tnw::util
