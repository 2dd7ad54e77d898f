#include "service/http/request_line.hpp"

#include "util/exception.hpp"

namespace plexmill::http {

namespace {

void skipBlanks(std::string_view& text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
}

// Removes at least one leading decimal digit; false when there is none.
bool skipDigits(std::string_view& text) {
    std::size_t count = 0;
    while (count < text.size() && text[count] >= '0' && text[count] <= '9') {
        ++count;
    }
    text.remove_prefix(count);
    return count != 0;
}

bool isVersion(std::string_view text) {
    constexpr std::string_view kPrefix = "HTTP/";
    if (!text.starts_with(kPrefix)) {
        return false;
    }
    text.remove_prefix(kPrefix.size());
    if (!skipDigits(text) || !text.starts_with('.')) {
        return false;
    }
    text.remove_prefix(1);
    return skipDigits(text) && text.empty();
}

} // namespace

std::optional<std::string> parseRequestLine(std::string_view line) {
    constexpr std::string_view kGet = "GET";
    if (!line.starts_with(kGet)) {
        return std::nullopt;
    }
    line.remove_prefix(kGet.size());
    skipBlanks(line);
    std::size_t end = line.find(' ');
    if (end == std::string_view::npos) {
        end = line.size();
    }
    std::string path(line.substr(0, end));
    line.remove_prefix(end);
    skipBlanks(line);
    if (!line.empty() && !isVersion(line)) {
        tnw::util::raise(tnw::util::ParseException());
    }
    return path;
}

} // namespace plexmill::http
