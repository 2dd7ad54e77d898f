#include "util/proc_files.hpp"

#include "util/stream_copy.hpp"

#include <charconv>
#include <sstream>

namespace tnw::util {

namespace {
constexpr std::size_t kLargestProcFile = 4 * 1024 * 1024;

std::optional<std::uint64_t> parseNumber(const std::string& text) {
    std::uint64_t value = 0;
    auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}
} // namespace

std::optional<std::string> readProcFile(const std::string& path) {
    ReadBuffer buffer(kLargestProcFile);
    if (!readFile(path, buffer)) {
        return std::nullopt;
    }
    return std::move(buffer.bytes);
}

std::optional<std::uint64_t> procValue(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 ||
            line[key.size()] != ':') {
            continue;
        }
        std::istringstream words(line.substr(key.size() + 1));
        std::string number;
        std::string unit;
        words >> number >> unit;
        auto value = parseNumber(number);
        if (value && unit == "kB") {
            *value *= 1024;
        }
        return value;
    }
    return std::nullopt;
}

std::vector<std::string> procStatFields(const std::string& text) {
    auto close = text.rfind(')');
    if (close == std::string::npos) {
        return {};
    }
    std::istringstream words(text.substr(close + 1));
    std::vector<std::string> fields;
    for (std::string word; words >> word;) {
        fields.push_back(word);
    }
    return fields;
}

std::optional<std::uint64_t> procStatField(const std::vector<std::string>& fields, int number) {
    auto index = static_cast<std::size_t>(number - 3);
    if (number < 3 || index >= fields.size()) {
        return std::nullopt;
    }
    return parseNumber(fields[index]);
}

} // namespace tnw::util
