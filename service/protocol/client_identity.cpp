#include "service/protocol/client_identity.hpp"

namespace plexmill::protocol {

namespace {

bool isKept(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
           c == '.' || c == '_';
}

} // namespace

std::string filterClientIdentity(std::string_view text) {
    std::string kept;
    for (char c : text) {
        if (isKept(c)) {
            kept += c;
        }
    }
    return kept;
}

} // namespace plexmill::protocol
