#include "service/firewall/words.hpp"

#include <sstream>

namespace plexmill::firewall {

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> list;
    std::istringstream stream(text);
    for (std::string word; stream >> word;) {
        list.push_back(word);
    }
    return list;
}

std::optional<std::uint16_t> parsePortNumber(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    unsigned long value = std::stoul(text);
    if (value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

} // namespace plexmill::firewall
