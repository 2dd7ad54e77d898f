#include "util/abstract_socket_address.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace tnw::util {

socklen_t abstractSocketAddress(const std::string& name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

} // namespace tnw::util
