// Reading the kernel's small text files in /proc and /sys.
#pragma once

#include "util/handle.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tnw::util {

// The whole file (these report no size, so it is read to its end); nullopt when it cannot be
// read. Files above 4 MiB are refused.
std::optional<std::string> readProcFile(const std::string& path);

// A file of /proc held open and read from its start again on every read, for figures asked
// for so often (the status port asks on every request) that opening the file each time would
// cost more than reading it. The kernel renders the text afresh for each read; any thread may
// read.
class ProcFile {
public:
    // A file that cannot be opened reads as nullopt.
    explicit ProcFile(const std::string& path);
    // As readProcFile.
    std::optional<std::string> read() const;

private:
    Handle handle_;
};

// The number after "<key>:" in a "Key: value [kB]" listing (/proc/meminfo,
// /proc/PID/status); a "kB" unit is turned into bytes. nullopt when the key is missing.
std::optional<std::uint64_t> procValue(const std::string& text, const std::string& key);

// The fields of /proc/PID/stat numbered as proc(5) does: element 0 is field 3 (the state),
// since the command name in field 2 may hold blanks and parentheses. Empty when malformed.
std::vector<std::string> procStatFields(const std::string& text);

// Field `number` (as numbered in proc(5), from 3) of procStatFields as a number.
std::optional<std::uint64_t> procStatField(const std::vector<std::string>& fields, int number);

// Field `number` (from 1: size, resident, shared, ...) of /proc/PID/statm, in pages.
std::optional<std::uint64_t> procStatmField(const std::string& text, int number);

} // namespace tnw::util
