// Taking a file a session has just received into the file cache.
#pragma once

#include "service/server/records.hpp"

#include <cstdint>
#include <string>

namespace plexmill::server {

class Manager;

// Checksums the session's file, copies it into the cache folder under its checksum and enters
// it, evicting least recently used entries as needed. Called without the global lock after
// FILE has answered; the lock is taken only for the map update, never while reading or
// copying. Fails silently: the FILE command has already succeeded. A file larger than the
// capacity is neither copied nor entered.
void addFile(Manager& manager,
             const std::string& sessionFilePath,
             PeerAddress source,
             std::uint32_t sessionNumber);

} // namespace plexmill::server
