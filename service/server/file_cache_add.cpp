#include "service/server/file_cache_add.hpp"

#include "service/server/manager.hpp"
#include "service/server/settings.hpp"
#include "util/checksum.hpp"
#include "util/console.hpp"
#include "util/files.hpp"
#include "util/format.hpp"

#include <atomic>

namespace plexmill::server {

namespace {

// A name no checksum can take, unique within this run; the start-up wipe removes any that a
// crash left behind.
std::string incomingName() {
    static std::atomic<std::uint64_t> counter{0};
    return tnw::util::format(".incoming-%1", counter.fetch_add(1) + 1);
}

// The copy of the session's file in the cache folder, or empty when there is none to make.
std::string copyIn(Manager& manager, const std::string& sessionFilePath) {
    using namespace tnw::util;
    std::uint64_t size = fileSize(sessionFilePath);
    std::string incoming;
    {
        Lock lock(globalLock());
        // Copying what can never be entered would only fill the disk until the next start.
        if (manager.fileCache.folder().empty() || size > manager.fileCache.capacity()) {
            return {};
        }
        incoming = joinPath(manager.fileCache.folder(), incomingName());
    }
    if (copyFile(sessionFilePath, incoming, false) != 0) {
        removeFile(incoming);
        return {};
    }
    return incoming;
}

} // namespace

void addFile(Manager& manager,
             const std::string& sessionFilePath,
             PeerAddress source,
             std::uint32_t sessionNumber,
             const std::function<void()>& onCopied) {
    using namespace tnw::util;
    std::string incoming = copyIn(manager, sessionFilePath);
    if (onCopied) {
        onCopied();
    }
    if (incoming.empty()) {
        return;
    }
    // The private copy is what gets checksummed: nothing else writes to it, and from here on
    // not even the server.
    makeReadOnly(incoming);
    ChecksumAndSize contents = fileChecksumAndSize(incoming);
    if (contents.checksum.empty()) {
        removeFile(incoming);
        return;
    }
    if (settings().debug && !outputOptions().serviceMode) {
        printSessionInfo(sessionNumber,
                         "Updating cache PATH=" + sessionFilePath + " CHECKSUM=" +
                             contents.checksum + " SIZE=" + std::to_string(contents.size));
    }
    Lock lock(globalLock());
    FileCache& cache = manager.fileCache;
    // An entry whose stored file was changed gives way to this good copy.
    if (cache.containsIntact(contents.checksum, contents.size)) {
        removeFile(incoming);
        return;
    }
    // A pinned entry stays as it is (enter would refuse the new copy), and so does its file:
    // the copy being made from it checks that it is still the file it pinned.
    if (const CacheEntry* existing = cache.find(contents.checksum);
        existing != nullptr && existing->pins > 0) {
        removeFile(incoming);
        return;
    }
    std::string target = cache.pathFor(contents.checksum);
    if (renameFile(incoming, target) != 0) {
        removeFile(incoming);
        return;
    }
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
