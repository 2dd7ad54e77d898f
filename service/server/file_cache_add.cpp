#include "service/server/file_cache_add.hpp"

#include "service/server/manager.hpp"
#include "service/server/settings.hpp"
#include "util/checksum.hpp"
#include "util/console.hpp"
#include "util/files.hpp"

namespace plexmill::server {

void addFile(Manager& manager,
             const std::string& sessionFilePath,
             PeerAddress source,
             std::uint32_t sessionNumber) {
    using namespace tnw::util;
    ChecksumAndSize contents = fileChecksumAndSize(sessionFilePath);
    if (contents.checksum.empty()) {
        return;
    }
    std::string target;
    {
        Lock lock(globalLock());
        // Copying what can never be entered would only fill the disk until the next start.
        if (manager.fileCache.folder().empty() || contents.size > manager.fileCache.capacity()) {
            return;
        }
        target = manager.fileCache.pathFor(contents.checksum);
    }
    // An existing target means the file is cached already, or being copied in by another session.
    if (copyFile(sessionFilePath, target, false) != 0) {
        return;
    }
    if (settings().debug && !outputOptions().serviceMode) {
        printSessionInfo(sessionNumber,
                         "Updating cache PATH=" + sessionFilePath + " CHECKSUM=" +
                             contents.checksum + " SIZE=" + std::to_string(contents.size));
    }
    Lock lock(globalLock());
    FileCache& cache = manager.fileCache;
    if (cache.enter(contents.checksum, Time::now(), contents.size, target, source)) {
        return;
    }
    // Not entered (only pinned entries were left to make room for it): unless an entry names
    // the file, nothing would ever use or delete it before the next start.
    const CacheEntry* entry = cache.find(contents.checksum);
    if (entry == nullptr || entry->path != target) {
        removeFile(target);
    }
}

} // namespace plexmill::server
