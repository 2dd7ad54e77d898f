#include "service/server/file_cache_copy.hpp"

#include "service/server/manager.hpp"
#include "util/file_identity.hpp"
#include "util/files.hpp"

#include <optional>

namespace plexmill::server {

namespace {

// Holds one pin on an entry from its construction under the lock until it goes.
class Pin {
public:
    Pin(FileCache& cache, CacheEntry& entry)
        : cache_(cache), checksum_(entry.checksum), stored_(entry.stored) {
        ++entry.pins;
    }
    ~Pin() {
        tnw::util::Lock lock(tnw::util::globalLock());
        // Pinned entries stay in the map unless their file was found changed and the entry
        // dropped; an entry entered again since is another file and keeps its own pins. (An
        // entry's identity may be taken afresh meanwhile, see FileCache::settle.)
        if (CacheEntry* entry = cache_.find(checksum_);
            entry != nullptr && entry->stored && stored_ && entry->stored->isSameFile(*stored_) &&
            entry->pins > 0) {
            --entry->pins;
        }
    }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

private:
    FileCache& cache_;
    std::string checksum_;
    std::optional<tnw::util::FileIdentity> stored_;
};

} // namespace

CachedCopy copyCachedFile(Manager& manager,
                          const std::string& checksum,
                          std::uint64_t size,
                          const std::string& target) {
    std::string source;
    std::optional<tnw::util::FileIdentity> stored;
    std::optional<Pin> pin;
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        if (!manager.fileCache.containsIntact(checksum, size)) {
            return CachedCopy::NotCached;
        }
        CacheEntry& entry = *manager.fileCache.find(checksum);
        pin.emplace(manager.fileCache, entry);
        source = entry.path;
        stored = entry.stored;
    }
    // Opened outside the lock: opening may wait (a FIFO waits for its writer). What is opened
    // must be the very file that was just checked.
    tnw::util::Handle file = tnw::util::openFileNoFollow(source);
    auto opened = tnw::util::fileIdentity(file);
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        if (!opened || !opened->isSameFile(*stored)) {
            manager.fileCache.drop(checksum);
            return CachedCopy::NotCached;
        }
        if (CacheEntry* entry = manager.fileCache.find(checksum); entry != nullptr) {
            manager.fileCache.touch(*entry);
        }
    }
    return tnw::util::copyOpenFile(file, target) == 0 ? CachedCopy::Copied : CachedCopy::Failed;
}

} // namespace plexmill::server
