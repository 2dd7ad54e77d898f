// What tells a stored file from another put in its place, or from itself changed since: device
// and inode, size, and the modification and inode-change times. Every write, truncation, rename
// and change of mode moves the change time, and nobody can set it back.
#pragma once

#include "util/handle.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace tnw::util {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0; // nanoseconds since 1970
    std::int64_t changed = 0;  // nanoseconds since 1970

    bool operator==(const FileIdentity&) const = default;
    bool isSameFile(const FileIdentity& other) const {
        return device == other.device && inode == other.inode;
    }
};

// The identity of whatever has the name — a link itself, not what it points to; none when
// nothing has it.
std::optional<FileIdentity> fileIdentity(const std::string& path);
// The identity of an open file.
std::optional<FileIdentity> fileIdentity(const Handle& file);

// Opens a file for reading without following a link in its place; an invalid Handle when it
// cannot be opened.
Handle openFileNoFollow(const std::string& path);

} // namespace tnw::util
