#include "service/server/file_cache.hpp"

#include "util/files.hpp"
#include "util/private_folder.hpp"

namespace plexmill::server {

bool FileCache::reset(const std::string& folder) {
    entries_.clear();
    useOrder_.clear();
    totalSize_ = 0;
    hits_ = 0;
    hitBytes_ = 0;
    folder_.clear();
    tnw::util::removeFolder(folder);
    // A file or link in the folder's place goes too; removeFolder leaves anything else.
    tnw::util::removeFile(folder);
    if (tnw::util::createFreshFolder(folder) != 0) {
        return false;
    }
    folder_ = folder;
    return true;
}

std::string FileCache::pathFor(const std::string& checksum) const {
    return tnw::util::joinPath(folder_, checksum);
}

bool FileCache::contains(const std::string& checksum, std::uint64_t size) const {
    auto found = entries_.find(checksum);
    return found != entries_.end() && found->second.size == size;
}

bool FileCache::containsIntact(const std::string& checksum, std::uint64_t size) {
    CacheEntry* entry = find(checksum);
    if (entry == nullptr || entry->size != size) {
        return false;
    }
    if (!isIntact(*entry)) {
        drop(checksum);
        return false;
    }
    return true;
}

bool FileCache::isIntact(const CacheEntry& entry) {
    if (!entry.stored) {
        return false;
    }
    auto now = tnw::util::fileIdentity(entry.path);
    if (!now) {
        return false;
    }
    if (entry.sharedWithSession) {
        return now->isSameFile(*entry.stored) && now->size == entry.stored->size &&
               now->modified == entry.stored->modified;
    }
    return *now == *entry.stored;
}

void FileCache::settle(const std::string& checksum, const std::string& path, bool unshared) {
    CacheEntry* entry = find(checksum);
    if (entry == nullptr || entry->path != path || !entry->sharedWithSession) {
        return;
    }
    if (!unshared || !isIntact(*entry)) {
        drop(checksum);
        return;
    }
    entry->stored = tnw::util::fileIdentity(path);
    entry->sharedWithSession = false;
}

CacheEntry* FileCache::find(const std::string& checksum) {
    auto found = entries_.find(checksum);
    return found == entries_.end() ? nullptr : &found->second;
}

void FileCache::touch(CacheEntry& entry, tnw::util::Time now) {
    useOrder_.erase({entry.lastUse, entry.checksum});
    useOrder_.emplace(now, entry.checksum);
    entry.lastUse = now;
    ++entry.hits;
    ++hits_;
    hitBytes_ += entry.size;
}

void FileCache::insert(const std::string& checksum,
                       tnw::util::Time time,
                       std::uint64_t size,
                       const std::string& path,
                       PeerAddress source) {
    auto [position, added] = entries_.try_emplace(checksum);
    CacheEntry& entry = position->second;
    if (!added) {
        if (entry.pins > 0) {
            return;
        }
        totalSize_ -= entry.size;
        useOrder_.erase({entry.lastUse, checksum});
    }
    useOrder_.emplace(time, checksum);
    entry.checksum = checksum;
    entry.lastUse = time;
    entry.size = size;
    entry.path = path;
    entry.source = source;
    entry.hits = 0;
    entry.stored = tnw::util::fileIdentity(path);
    entry.sharedWithSession = false;
    totalSize_ += size;
}

void FileCache::remove(const std::string& checksum) {
    auto found = entries_.find(checksum);
    if (found == entries_.end() || found->second.pins > 0) {
        return;
    }
    // A file that cannot be deleted is forgotten all the same: the next start wipes the folder.
    tnw::util::removeFile(found->second.path);
    forget(found);
}

void FileCache::drop(const std::string& checksum) {
    auto found = entries_.find(checksum);
    if (found == entries_.end()) {
        return;
    }
    tnw::util::removeFile(found->second.path);
    forget(found);
}

void FileCache::forget(std::map<std::string, CacheEntry>::iterator entry) {
    totalSize_ -= entry->second.size;
    useOrder_.erase({entry->second.lastUse, entry->first});
    entries_.erase(entry);
}

void FileCache::expire(tnw::util::Time now) {
    // Oldest first: the walk ends at the first entry still in use.
    for (auto position = useOrder_.begin();
         position != useOrder_.end() && position->first.value() + kLifetime < now.value();) {
        const std::string checksum = (position++)->second;
        remove(checksum);
    }
}

bool FileCache::enter(const std::string& checksum,
                      tnw::util::Time time,
                      std::uint64_t size,
                      const std::string& path,
                      PeerAddress source) {
    if (size > capacity_ || contains(checksum, size)) {
        return false;
    }
    if (const CacheEntry* existing = find(checksum); existing != nullptr) {
        if (existing->pins > 0) {
            return false;
        }
        // An entry of another size gives way to the new copy, as insert would replace it: its
        // file is not deleted, since the new copy may stand at the same path.
        forget(entries_.find(checksum));
    }
    if (!makeRoom(size)) {
        return false;
    }
    insert(checksum, time, size, path, source);
    return true;
}

bool FileCache::makeRoom(std::uint64_t size) {
    while (totalSize_ > capacity_ || size > capacity_ - totalSize_) {
        // The use order breaks equal last uses by checksum; pinned entries are passed over.
        auto oldest = useOrder_.begin();
        while (oldest != useOrder_.end() && entries_.at(oldest->second).pins > 0) {
            ++oldest;
        }
        if (oldest == useOrder_.end()) {
            return false;
        }
        remove(std::string(oldest->second));
    }
    return true;
}

} // namespace plexmill::server
