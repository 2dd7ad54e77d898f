#include "service/server/kernel_cache.hpp"

#include "service/server/manager.hpp"
#include "service/server/settings.hpp"
#include "util/clock.hpp"
#include "util/console.hpp"
#include "util/files.hpp"

namespace plexmill::server {

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Under the global lock: whether the kernel of `guid` goes, forgetting its upload when it
// expired.
bool decideRemoval(Manager& manager, const std::string& guid, tnw::util::Time now) {
    if (manager.kernelsReceiving.contains(guid)) {
        return false;
    }
    for (const auto& session : manager.sessions) {
        if (session->kernel == guid) {
            return false;
        }
    }
    auto upload = manager.kernelUploads.find(guid);
    if (upload == manager.kernelUploads.end()) {
        return true;
    }
    if (upload->second.value() + kKernelLifetime < now.value()) {
        manager.kernelUploads.erase(upload);
        return true;
    }
    return false;
}

} // namespace

bool isValidKernelGuid(std::string_view text) {
    constexpr std::string_view kShape = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    if (text.size() != kShape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        if (kShape[i] == 'X' ? !isHexDigit(text[i]) : text[i] != kShape[i]) {
            return false;
        }
    }
    return true;
}

std::string kernelFolder(const Manager& manager, const std::string& guid) {
    return tnw::util::joinPath(manager.config.cacheFolder, guid);
}

KernelUpload::KernelUpload(Manager& manager, std::string guid)
    : manager_(manager), guid_(std::move(guid)) {
    tnw::util::Lock lock(tnw::util::globalLock());
    ++manager_.kernelsReceiving[guid_];
}

KernelUpload::~KernelUpload() {
    tnw::util::Lock lock(tnw::util::globalLock());
    auto entry = manager_.kernelsReceiving.find(guid_);
    if (entry != manager_.kernelsReceiving.end() && --entry->second == 0) {
        manager_.kernelsReceiving.erase(entry);
    }
}

void KernelCacheCleaner::clean(Manager& manager, tnw::util::Time now, std::uint64_t monotonicNow) {
    using namespace tnw::util;
    {
        Lock lock(globalLock());
        if (!manager.sessionsChanged) {
            return;
        }
        manager.sessionsChanged = false;
    }
    if (lastCleanUp_ && monotonicNow - *lastCleanUp_ < kKernelCleanUpInterval) {
        return;
    }
    lastCleanUp_ = monotonicNow;
    bool print = settings().debug && !outputOptions().serviceMode;
    const std::string& folder = manager.config.cacheFolder;
    for (const auto& name : listFiles(folder)) {
        std::string path = joinPath(folder, name);
        if (!isValidKernelGuid(name) || undeletable_.contains(path) || !isFolder(path)) {
            continue;
        }
        // Deleted under the lock too, so that no upload can start in the folder meanwhile.
        Lock lock(globalLock());
        if (!decideRemoval(manager, name, now)) {
            continue;
        }
        if (print) {
            printInfo("Cleaning up cache '" + path + "'.");
        }
        removeFolder(path);
        if (exists(path)) {
            undeletable_.insert(path);
        }
    }
}

void cleanKernelCache(Manager& manager) {
    static KernelCacheCleaner cleaner;
    cleaner.clean(manager, tnw::util::Time::now(), tnw::util::monotonicMicroseconds());
}

} // namespace plexmill::server
