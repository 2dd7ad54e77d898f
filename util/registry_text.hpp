// Reading and writing the text of a registry export file. Pure functions: no files, no locks.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/registry.hpp"

namespace tnw::util {

struct RegistrySection {
    std::string key; // with its root, e.g. HKEY_CURRENT_USER\Software\Quorvex
    std::vector<std::pair<std::string, RegistryValue>> values;
};

struct RegistryDocument {
    std::vector<RegistrySection> sections;

    // Case-insensitive lookups, as key paths and value names are on Windows.
    const RegistrySection* find(std::string_view key) const;
    RegistrySection& findOrAdd(std::string_view key);
    static const RegistryValue* findValue(const RegistrySection& section, std::string_view name);
    static void setValue(RegistrySection& section, std::string_view name, RegistryValue value);
    // Removes the key and every key below it; the number of sections removed.
    std::size_t removeTree(std::string_view key);
};

struct RegistryParseError {
    std::size_t line = 0;
    std::string reason;
};

struct ParsedRegistry {
    RegistryDocument document;                // everything that could be read
    std::optional<RegistryParseError> error;  // the first line that could not
};

ParsedRegistry parseRegistryText(std::string_view text);
std::string renderRegistryText(const RegistryDocument& document);

} // namespace tnw::util
