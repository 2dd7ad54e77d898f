#include "util/proc_files.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sstream>
#include <string_view>
#include <unistd.h>

namespace tnw::util {

namespace {
constexpr std::size_t kLargestProcFile = 4 * 1024 * 1024;

std::optional<std::uint64_t> parseNumber(std::string_view text) {
    std::uint64_t value = 0;
    auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The whole file, read from its start with plain calls rather than a stream: the status
// port reads these files for every request, and a stream reports the end of a file with an
// exception, which costs more than the read and serialises the threads in the unwinder.
std::optional<std::string> readWhole(int fd) {
    std::string text;
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) {
            if (used >= kLargestProcFile) {
                char probe = 0;
                if (::pread(fd, &probe, 1, static_cast<off_t>(used)) != 0) {
                    return std::nullopt;
                }
                break;
            }
            text.resize(std::min(std::max<std::size_t>(4096, used * 2), kLargestProcFile));
        }
        ssize_t got = ::pread(fd, text.data() + used, text.size() - used, static_cast<off_t>(used));
        if (got > 0) {
            used += static_cast<std::size_t>(got);
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            return std::nullopt;
        }
    }
    text.resize(used);
    return text;
}

} // namespace

std::optional<std::string> readProcFile(const std::string& path) {
    ProcFile file(path);
    return file.read();
}

ProcFile::ProcFile(const std::string& path) : handle_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}

std::optional<std::string> ProcFile::read() const {
    if (!handle_) {
        return std::nullopt;
    }
    return readWhole(handle_.fd());
}

std::optional<std::uint64_t> procValue(const std::string& text, const std::string& key) {
    constexpr std::string_view kBlanks = " \t";
    std::string_view rest(text);
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.size() <= key.size() || !line.starts_with(key) || line[key.size()] != ':') {
            continue;
        }
        line.remove_prefix(key.size() + 1);
        std::size_t start = line.find_first_not_of(kBlanks);
        line.remove_prefix(start == std::string_view::npos ? line.size() : start);
        std::string_view number = line.substr(0, line.find_first_of(kBlanks));
        line.remove_prefix(number.size());
        start = line.find_first_not_of(kBlanks);
        line.remove_prefix(start == std::string_view::npos ? line.size() : start);
        std::string_view unit = line.substr(0, line.find_first_of(kBlanks));
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

std::optional<std::uint64_t> procStatmField(const std::string& text, int number) {
    std::string_view rest(text);
    for (int field = 1; number >= 1; ++field) {
        std::size_t start = rest.find_first_not_of(" \n");
        if (start == std::string_view::npos) {
            return std::nullopt;
        }
        rest.remove_prefix(start);
        std::string_view word = rest.substr(0, rest.find_first_of(" \n"));
        rest.remove_prefix(word.size());
        if (field == number) {
            return parseNumber(word);
        }
    }
    return std::nullopt;
}

} // namespace tnw::util
