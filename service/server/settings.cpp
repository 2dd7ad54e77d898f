#include "service/server/settings.hpp"

#include "util/time.hpp"
#include "util/text.hpp"

namespace plexmill::server {

Settings& settings() {
    static Settings instance;
    return instance;
}

bool isAllowedClient(const Settings& settings, std::uint32_t address) {
    return settings.allowedClients.empty() || settings.allowedClients.contains(address);
}

bool isAllowedClient(std::uint32_t address) { return isAllowedClient(settings(), address); }

bool isWithinAllowedTimes(const Settings& settings, std::uint32_t hhmm) {
    if (settings.allowedTimes.empty()) {
        return true;
    }
    for (const auto& interval : settings.allowedTimes) {
        if (interval.start <= hhmm && hhmm <= interval.end) {
            return true;
        }
    }
    return false;
}

bool isWithinAllowedTimes() {
    auto local = tnw::util::Time::now().toLocal().fields();
    return isWithinAllowedTimes(settings(), local.hour * 100 + local.minute);
}

std::string lookupDisplayName(const Settings& settings, const std::string& name) {
    if (settings.nameLookup.empty()) {
        return name;
    }
    auto found = settings.nameLookup.find(tnw::util::toLowerAscii(name));
    return found == settings.nameLookup.end() ? name : found->second;
}

std::string lookupDisplayName(const std::string& name) { return lookupDisplayName(settings(), name); }

namespace {

std::string trimmed(const std::string& text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin])) {
        ++begin;
    }
    while (end > begin && blank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

} // namespace

void parseNameLookup(const std::string& text, std::map<std::string, std::string>& table) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() + 1 : end + 1;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        auto separator = line.find(';');
        if (separator == std::string::npos) {
            continue;
        }
        auto next = line.find(';', separator + 1);
        std::string name = tnw::util::toLowerAscii(trimmed(line.substr(0, separator)));
        std::string display = trimmed(line.substr(separator + 1, next == std::string::npos ? std::string::npos : next - separator - 1));
        table[name] = display;
    }
}

} // namespace plexmill::server
