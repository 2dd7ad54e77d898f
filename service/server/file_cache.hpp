// Files clients sent before, kept by the checksum of their contents so that the next session
// can have them copied instead of sent again. Emptied at every server start, bounded by a
// fixed capacity (least recently used entries go first), entries unused for 24 hours expire.
//
// Every operation runs with the global lock held unless it says otherwise.
//
// Pinned entries (pins > 0) have their stored file copied out right now, outside the lock: they
// are never evicted, removed or expired, and an insert of their checksum leaves them as they are.
// The copy that pinned one unpins it when it is done.
//
// Stored files are the server's alone, read-only in its private folder. Each entry remembers
// the identity of its file when it was entered; a file changed or replaced since is never
// served: the entry is dropped, pinned or not, as if it had never been.
#pragma once

#include "service/server/records.hpp"
#include "util/file_identity.hpp"
#include "util/time.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace plexmill::server {

struct CacheEntry {
    std::string checksum; // 64 lowercase hexadecimal digits, equal to the key
    tnw::util::Time lastUse;
    std::uint64_t size = 0;
    std::string path; // the stored copy: the checksum as file name in the cache folder
    PeerAddress source;
    std::uint32_t hits = 0;
    std::uint32_t pins = 0; // copies being made from the stored file right now
    // The stored file as it was entered; none when it could not be read then.
    std::optional<tnw::util::FileIdentity> stored;
    // The stored file is still also the session file it was received as, until that session
    // has a copy of its own (settle): the name going from it moves its change time, which
    // does not count against it until then. Nothing writes the session file meanwhile.
    bool sharedWithSession = false;
};

class FileCache {
public:
    static constexpr std::uint64_t kCapacity = 34'359'738'368ULL; // 32 GiB
    static constexpr std::uint64_t kLifetime = 86'400'000'000ULL; // microseconds (24 hours)

    // kCapacity unless a test sets a smaller one.
    std::uint64_t capacity() const { return capacity_; }
    void setCapacity(std::uint64_t bytes) { capacity_ = bytes; }

    const std::string& folder() const { return folder_; }
    // Deletes the folder with everything in it and starts empty in a new private folder there
    // (server start). False when the folder could not be made afresh; the cache then stores
    // nothing.
    bool reset(const std::string& folder);

    std::string pathFor(const std::string& checksum) const;
    bool contains(const std::string& checksum, std::uint64_t size) const;
    // contains(), and the stored file is still the one entered; an entry whose file is not is
    // dropped.
    bool containsIntact(const std::string& checksum, std::uint64_t size);
    // Whether the entry's file is, by what its name now shows, the file that was entered.
    static bool isIntact(const CacheEntry& entry);
    CacheEntry* find(const std::string& checksum);
    void touch(CacheEntry& entry, tnw::util::Time now = tnw::util::Time::now());
    // Takes the identity of the file at `path` as the entry's stored file.
    void insert(const std::string& checksum,
                tnw::util::Time time,
                std::uint64_t size,
                const std::string& path,
                PeerAddress source);
    void remove(const std::string& checksum);
    // The session that shared the entry's stored file (sharedWithSession) has its own copy
    // now, or could not get one (`unshared` false): the entry then goes, since the session's
    // kernel could write to it; otherwise its identity is taken afresh, if it is still the
    // file that was entered. An entry no longer at `path` is another one and stays as it is.
    void settle(const std::string& checksum, const std::string& path, bool unshared);
    // Forgets the entry whatever its pins and deletes what stands at its path: for an entry whose
    // stored file was changed behind the server's back.
    void drop(const std::string& checksum);
    void expire(tnw::util::Time now);
    // Enters a copy stored at `path` unless an entry of that checksum and size exists: evicts
    // least recently used entries (the oldest last use first, equal times in checksum order)
    // until the size fits, then inserts. False when the copy was not entered because it is
    // larger than the capacity, already there, or only pinned entries are left to evict.
    bool enter(const std::string& checksum,
               tnw::util::Time time,
               std::uint64_t size,
               const std::string& path,
               PeerAddress source);

    const std::map<std::string, CacheEntry>& entries() const { return entries_; }
    std::uint64_t totalSize() const { return totalSize_; }
    std::uint64_t hits() const { return hits_; }
    std::uint64_t hitBytes() const { return hitBytes_; }

private:
    // Evicts unpinned entries until `size` bytes fit beside the rest; false when they do not.
    bool makeRoom(std::uint64_t size);
    // Takes the entry out of the map and the use order; its file stays.
    void forget(std::map<std::string, CacheEntry>::iterator entry);

    std::uint64_t capacity_ = kCapacity;
    std::string folder_;
    std::map<std::string, CacheEntry> entries_;
    // Every entry by last use, then checksum: eviction and expiry take the oldest first
    // without a walk over the whole cache.
    std::set<std::pair<tnw::util::Time, std::string>> useOrder_;
    std::uint64_t totalSize_ = 0;
    std::uint64_t hits_ = 0;
    std::uint64_t hitBytes_ = 0;
};

} // namespace plexmill::server
