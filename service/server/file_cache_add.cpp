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

// Where the session's file goes in the cache folder; empty when it could never be entered.
std::string incomingPath(Manager& manager, std::uint64_t size) {
    using namespace tnw::util;
    Lock lock(globalLock());
    // Copying what can never be entered would only fill the disk until the next start.
    if (manager.fileCache.folder().empty() || size > manager.fileCache.capacity()) {
        return {};
    }
    return joinPath(manager.fileCache.folder(), incomingName());
}

struct Incoming {
    std::string path;    // empty: nothing to enter
    bool shared = false; // a second name of the session's file, not a copy
};

// The session's file in the cache folder. When the session hashed it as it arrived, a second
// name for it is enough to enter it at once; the session then gets its own copy after the
// entry is in. Otherwise, or where no second name can be made, a private copy.
Incoming takeIn(Manager& manager, const std::string& sessionFilePath, bool mayShare) {
    using namespace tnw::util;
    std::string path = incomingPath(manager, fileSize(sessionFilePath));
    if (path.empty()) {
        return {};
    }
    if (mayShare && linkFile(sessionFilePath, path) == 0) {
        return {path, true};
    }
    if (copyFile(sessionFilePath, path, false) != 0) {
        removeFile(path);
        return {};
    }
    return {path, false};
}

bool holdsIntact(Manager& manager, const tnw::util::ChecksumAndSize& contents) {
    tnw::util::Lock lock(tnw::util::globalLock());
    return manager.fileCache.containsIntact(contents.checksum, contents.size);
}

// Enters the incoming file under its checksum, evicting as needed. The path it is stored at,
// or empty when it was not entered (its name in the cache folder is then gone).
std::string enterIncoming(Manager& manager,
                          const Incoming& incoming,
                          const tnw::util::ChecksumAndSize& contents,
                          PeerAddress source) {
    using namespace tnw::util;
    Lock lock(globalLock());
    FileCache& cache = manager.fileCache;
    // An entry whose stored file was changed gives way to this good copy.
    if (cache.containsIntact(contents.checksum, contents.size)) {
        removeFile(incoming.path);
        return {};
    }
    // A pinned entry stays as it is (enter would refuse the new copy), and so does its file:
    // the copy being made from it checks that it is still the file it pinned.
    if (const CacheEntry* existing = cache.find(contents.checksum);
        existing != nullptr && existing->pins > 0) {
        removeFile(incoming.path);
        return {};
    }
    std::string target = cache.pathFor(contents.checksum);
    if (renameFile(incoming.path, target) != 0) {
        removeFile(incoming.path);
        return {};
    }
    if (cache.enter(contents.checksum, Time::now(), contents.size, target, source)) {
        cache.find(contents.checksum)->sharedWithSession = incoming.shared;
        return target;
    }
    // Not entered (only pinned entries were left to make room for it): unless an entry names
    // the file, nothing would ever use or delete it before the next start.
    const CacheEntry* entry = cache.find(contents.checksum);
    if (entry == nullptr || entry->path != target) {
        removeFile(target);
    }
    return {};
}

// The session's file stops being the cache's: it gets a copy of its own, which its kernel may
// write. Should the copy fail, the cache lets go of the file instead.
void unshare(Manager& manager,
             const std::string& sessionFilePath,
             const std::string& stored,
             const std::string& checksum) {
    using namespace tnw::util;
    bool unshared = unshareFile(sessionFilePath) == 0;
    Lock lock(globalLock());
    manager.fileCache.settle(checksum, stored, unshared);
}

} // namespace

void addFile(Manager& manager,
             const std::string& sessionFilePath,
             PeerAddress source,
             std::uint32_t sessionNumber,
             const std::function<void()>& onCopied,
             const std::optional<tnw::util::ChecksumAndSize>& received) {
    using namespace tnw::util;
    // The session may change or delete its file only once it no longer is the cache's.
    struct Release {
        const std::function<void()>& onCopied;
        void now() const {
            if (onCopied) {
                onCopied();
            }
        }
    } release{onCopied};
    bool known = received.has_value() && !received->checksum.empty();
    if (known && holdsIntact(manager, *received)) {
        release.now();
        return;
    }
    // Until the ticket is released only the session's own thread wrote the session file, so the
    // bytes it hashed as they arrived are the file's bytes; the size would show a file cut short.
    Incoming incoming = takeIn(manager, sessionFilePath, known);
    if (!incoming.shared) {
        release.now();
    }
    if (incoming.path.empty()) {
        return;
    }
    // Nothing else writes to the cache's file, and from here on not even the server (a shared
    // one is the session's file too, which the session leaves alone until it has its own).
    makeReadOnly(incoming.path);
    ChecksumAndSize contents = known ? *received : fileChecksumAndSize(incoming.path);
    std::string stored;
    if (!contents.checksum.empty() && fileSize(incoming.path) == contents.size) {
        if (settings().debug && !outputOptions().serviceMode) {
            printSessionInfo(sessionNumber,
                             "Updating cache PATH=" + sessionFilePath + " CHECKSUM=" +
                                 contents.checksum + " SIZE=" + std::to_string(contents.size));
        }
        stored = enterIncoming(manager, incoming, contents, source);
    } else {
        removeFile(incoming.path);
    }
    if (incoming.shared) {
        if (!stored.empty()) {
            unshare(manager, sessionFilePath, stored, contents.checksum);
        }
        release.now();
    }
}

} // namespace plexmill::server
