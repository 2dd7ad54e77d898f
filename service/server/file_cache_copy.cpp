#include "service/server/file_cache_copy.hpp"

#include "service/server/manager.hpp"
#include "util/files.hpp"

#include <optional>

namespace plexmill::server {

namespace {

// Holds one pin on an entry from its construction under the lock until it goes.
class Pin {
public:
    Pin(FileCache& cache, CacheEntry& entry) : cache_(cache), checksum_(entry.checksum) {
        ++entry.pins;
    }
    ~Pin() {
        tnw::util::Lock lock(tnw::util::globalLock());
        // Pinned entries stay in the map, so the entry is still there.
        if (CacheEntry* entry = cache_.find(checksum_); entry != nullptr && entry->pins > 0) {
            --entry->pins;
        }
    }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

private:
    FileCache& cache_;
    std::string checksum_;
};

} // namespace

CachedCopy copyCachedFile(Manager& manager,
                          const std::string& checksum,
                          std::uint64_t size,
                          const std::string& target) {
    std::string source;
    std::optional<Pin> pin;
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        CacheEntry* entry = manager.fileCache.find(checksum);
        if (entry == nullptr || entry->size != size) {
            return CachedCopy::NotCached;
        }
        manager.fileCache.touch(*entry);
        pin.emplace(manager.fileCache, *entry);
        source = entry->path;
    }
    return tnw::util::copyFile(source, target, false) == 0 ? CachedCopy::Copied
                                                           : CachedCopy::Failed;
}

} // namespace plexmill::server
