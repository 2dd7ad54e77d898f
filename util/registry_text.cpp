#include "util/registry_text.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "util/text.hpp"

namespace tnw::util {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// Reads a quoted string starting at text[0] == '"'; returns the position after the closing
// quote, or npos when it is not closed.
std::size_t readQuoted(std::string_view text, std::string& out) {
    for (std::size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            out += text[++i];
        } else if (c == '"') {
            return i + 1;
        } else {
            out += c;
        }
    }
    return std::string_view::npos;
}

bool parseHexBytes(std::string_view text, std::vector<std::uint8_t>& bytes) {
    text = trim(text);
    if (text.empty()) {
        return true;
    }
    while (true) {
        auto comma = text.find(',');
        std::string_view item = trim(text.substr(0, comma));
        unsigned value = 0;
        auto [end, failure] = std::from_chars(item.data(), item.data() + item.size(), value, 16);
        if (item.empty() || item.size() > 2 || failure != std::errc() || end != item.data() + item.size()) {
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
        if (comma == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(comma + 1);
    }
}

std::string utf16LittleEndianToText(const std::vector<std::uint8_t>& bytes) {
    std::u16string wide;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        wide += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    }
    while (!wide.empty() && wide.back() == u'\0') {
        wide.pop_back();
    }
    return toUtf8(wide);
}

std::vector<std::uint8_t> textToUtf16LittleEndian(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (char16_t unit : toUtf16(text) + u'\0') {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xff));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

// Parses the data after "=", or returns a reason it cannot.
std::optional<std::string> parseData(std::string_view data, RegistryValue& value) {
    data = trim(data);
    if (data.starts_with('"')) {
        std::size_t end = readQuoted(data, value.text);
        if (end == std::string_view::npos || !trim(data.substr(end)).empty()) {
            return "unterminated text";
        }
        value.type = static_cast<std::uint32_t>(RegistryType::String);
        return std::nullopt;
    }
    if (data.starts_with("dword:")) {
        std::string_view digits = data.substr(6);
        std::uint32_t number = 0;
        auto [end, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), number, 16);
        if (digits.empty() || digits.size() > 8 || failure != std::errc() ||
            end != digits.data() + digits.size()) {
            return "bad dword";
        }
        value.type = static_cast<std::uint32_t>(RegistryType::Dword);
        value.raw = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                     static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
        return std::nullopt;
    }
    std::uint32_t type = static_cast<std::uint32_t>(RegistryType::Binary);
    if (data.starts_with("hex(")) {
        auto close = data.find("):");
        std::string_view digits = data.substr(4, close == std::string_view::npos ? 0 : close - 4);
        auto [end, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), type, 16);
        if (close == std::string_view::npos || digits.empty() || failure != std::errc() ||
            end != digits.data() + digits.size()) {
            return "bad value type";
        }
        data.remove_prefix(close + 2);
    } else if (data.starts_with("hex:")) {
        data.remove_prefix(4);
    } else {
        return "unknown value form";
    }
    std::vector<std::uint8_t> bytes;
    if (!parseHexBytes(data, bytes)) {
        return "bad hexadecimal bytes";
    }
    value.type = type;
    if (type == static_cast<std::uint32_t>(RegistryType::String) ||
        type == static_cast<std::uint32_t>(RegistryType::ExpandString)) {
        value.text = utf16LittleEndianToText(bytes);
    } else {
        value.raw = std::move(bytes);
    }
    return std::nullopt;
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out + '"';
}

std::string hexList(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) {
            out += ',';
        }
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

std::string renderData(const RegistryValue& value) {
    char number[16];
    switch (value.type) {
    case static_cast<std::uint32_t>(RegistryType::String):
        return quoted(value.text);
    case static_cast<std::uint32_t>(RegistryType::ExpandString):
        return "hex(2):" + hexList(textToUtf16LittleEndian(value.text));
    case static_cast<std::uint32_t>(RegistryType::Dword):
        if (value.raw.size() == 4) {
            std::uint32_t dword = value.raw[0] | (value.raw[1] << 8) | (value.raw[2] << 16) |
                                  (static_cast<std::uint32_t>(value.raw[3]) << 24);
            std::snprintf(number, sizeof number, "dword:%08x", dword);
            return number;
        }
        return "hex(4):" + hexList(value.raw);
    case static_cast<std::uint32_t>(RegistryType::Binary):
        return "hex:" + hexList(value.raw);
    default:
        std::snprintf(number, sizeof number, "hex(%x):", value.type);
        return number + hexList(value.raw);
    }
}

} // namespace

const RegistrySection* RegistryDocument::find(std::string_view key) const {
    for (const auto& section : sections) {
        if (equalsIgnoringCase(section.key, key)) {
            return &section;
        }
    }
    return nullptr;
}

RegistrySection& RegistryDocument::findOrAdd(std::string_view key) {
    for (auto& section : sections) {
        if (equalsIgnoringCase(section.key, key)) {
            return section;
        }
    }
    sections.push_back({std::string(key), {}});
    return sections.back();
}

const RegistryValue* RegistryDocument::findValue(const RegistrySection& section, std::string_view name) {
    for (const auto& [valueName, value] : section.values) {
        if (equalsIgnoringCase(valueName, name)) {
            return &value;
        }
    }
    return nullptr;
}

void RegistryDocument::setValue(RegistrySection& section, std::string_view name, RegistryValue value) {
    for (auto& [valueName, stored] : section.values) {
        if (equalsIgnoringCase(valueName, name)) {
            stored = std::move(value);
            return;
        }
    }
    section.values.emplace_back(std::string(name), std::move(value));
}

std::size_t RegistryDocument::removeTree(std::string_view key) {
    return std::erase_if(sections, [key](const RegistrySection& section) {
        std::string_view name = section.key;
        return equalsIgnoringCase(name, key) ||
               (name.size() > key.size() && name[key.size()] == '\\' &&
                equalsIgnoringCase(name.substr(0, key.size()), key));
    });
}

ParsedRegistry parseRegistryText(std::string_view text) {
    ParsedRegistry result;
    auto fail = [&](std::size_t line, std::string reason) {
        if (!result.error) {
            result.error = RegistryParseError{line, std::move(reason)};
        }
    };
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    RegistrySection* section = nullptr;
    std::size_t lineNumber = 0;
    bool headerSeen = false;
    while (!text.empty()) {
        // One logical line; a trailing backslash continues it on the next physical line.
        std::string line;
        std::size_t firstLine = lineNumber + 1;
        while (true) {
            auto end = text.find('\n');
            std::string_view physical = trim(text.substr(0, end));
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            ++lineNumber;
            bool continued = physical.ends_with('\\') && !physical.starts_with('[');
            line += continued ? physical.substr(0, physical.size() - 1) : physical;
            if (!continued || text.empty()) {
                break;
            }
        }
        std::string_view view = trim(line);
        if (view.empty() || view.starts_with(';')) {
            continue;
        }
        if (!headerSeen) {
            headerSeen = true;
            if (view != kHeader) {
                fail(firstLine, "the first line is not \"" + std::string(kHeader) + "\"");
                return result;
            }
            continue;
        }
        if (view.starts_with('[')) {
            if (!view.ends_with(']') || view.size() < 3 || view[1] == '-') {
                fail(firstLine, "bad key line");
                section = nullptr;
                continue;
            }
            section = &result.document.findOrAdd(view.substr(1, view.size() - 2));
            continue;
        }
        std::string name;
        std::size_t afterName = 0;
        if (view.starts_with('@')) {
            afterName = 1;
        } else if (view.starts_with('"')) {
            afterName = readQuoted(view, name);
        } else {
            afterName = std::string_view::npos;
        }
        if (afterName == std::string_view::npos || afterName >= view.size() ||
            trim(view.substr(afterName)).front() != '=') {
            fail(firstLine, "not a value line");
            continue;
        }
        if (section == nullptr) {
            fail(firstLine, "a value outside any key");
            continue;
        }
        std::string_view data = trim(view.substr(afterName));
        RegistryValue value;
        if (auto reason = parseData(data.substr(1), value)) {
            fail(firstLine, *reason);
            continue;
        }
        RegistryDocument::setValue(*section, name, std::move(value));
    }
    return result;
}

std::string renderRegistryText(const RegistryDocument& document) {
    std::string text = std::string(kHeader) + "\n";
    for (const auto& section : document.sections) {
        text += "\n[" + section.key + "]\n";
        for (const auto& [name, value] : section.values) {
            text += (name.empty() ? std::string("@") : quoted(name)) + "=" + renderData(value) + "\n";
        }
    }
    return text;
}

} // namespace tnw::util
