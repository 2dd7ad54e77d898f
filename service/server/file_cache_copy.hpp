// Copying a cached file into a session (FILE_CACHE) without holding the global lock for the
// length of the copy.
#pragma once

#include <cstdint>
#include <string>

namespace plexmill::server {

class Manager;

enum class CachedCopy {
    NotCached, // no entry of that checksum and size: nothing was copied or counted
    Copied,
    Failed, // the entry was counted as used, but the copy failed and left no target
};

// Under the global lock finds the entry of `checksum` with exactly `size` bytes whose stored
// file is still the one entered, and pins it; opens that file without the lock and, back under
// it, marks the entry used (last use now, its hits, the cache's hits and hit bytes); then,
// without the lock, copies the open file to `target` (failing when `target` exists) by a block
// clone where the file system offers one, else inside the kernel; then unpins it under the lock.
// While pinned the entry is neither evicted, removed, expired nor replaced. An entry whose file
// was changed, replaced or removed behind the server's back is dropped and counts as not
// cached. Called without the lock.
CachedCopy copyCachedFile(Manager& manager,
                          const std::string& checksum,
                          std::uint64_t size,
                          const std::string& target);

} // namespace plexmill::server
