// Taking a file a session has just received into the file cache.
#pragma once

#include "service/server/records.hpp"
#include "util/checksum.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace plexmill::server {

class Manager;

// Copies the session's file into the cache folder under a temporary name and enters that
// private copy under its checksum, evicting least recently used entries as needed. Runs
// without the global lock, which is taken only for the map update and the rename.
// `received` is the checksum and size of the bytes as the session received them, hashed on the
// way in: the session file is then not read again for its checksum, and not copied at all when
// the cache already holds it intact. Without it the private copy is checksummed.
// `onCopied` runs as soon as the session's file has been read (or could not be): from then on
// the session may change or delete it. Fails silently, since the FILE command that received
// the file has already succeeded. A file larger than the capacity is neither copied nor entered.
void addFile(Manager& manager,
             const std::string& sessionFilePath,
             PeerAddress source,
             std::uint32_t sessionNumber,
             const std::function<void()>& onCopied = {},
             const std::optional<tnw::util::ChecksumAndSize>& received = std::nullopt);

} // namespace plexmill::server
