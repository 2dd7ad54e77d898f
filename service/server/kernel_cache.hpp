// The kernels clients upload with KERNEL: one folder per kernel GUID in the cache folder, the
// time of each upload in Manager::kernelUploads, and the clean-up that removes kernels the
// running server does not know or that were uploaded more than 24 hours ago. The folders
// survive restarts; the map does not, so the first clean-up after a start removes them all.
#pragma once

#include "util/time.hpp"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace plexmill::server {

class Manager;

inline constexpr std::uint64_t kKernelLifetime = 86'400'000'000ULL;     // microseconds (24 hours)
inline constexpr std::uint64_t kKernelCleanUpInterval = 300'000'000ULL; // microseconds

// Exactly 38 characters: "{", 8 hexadecimal digits, "-", 4, "-", 4, "-", 4, "-", 12, "}";
// digits in either case.
bool isValidKernelGuid(std::string_view text);

// The folder of a kernel: the GUID, as the client sent it, inside the cache folder.
std::string kernelFolder(const Manager& manager, const std::string& guid);

// Keeps the folder of a GUID from every clean-up while a session writes into it. KERNEL holds
// one from before it creates the folder until its last file has been verified and renamed
// into place. Takes the global lock briefly when made and when it goes.
class KernelUpload {
public:
    KernelUpload(Manager& manager, std::string guid);
    ~KernelUpload();
    KernelUpload(const KernelUpload&) = delete;
    KernelUpload& operator=(const KernelUpload&) = delete;

private:
    Manager& manager_;
    std::string guid_;
};

// The clean-up with the state it keeps between runs: when it last ran, and the folders it
// failed to delete, which it does not try again.
class KernelCacheCleaner {
public:
    // Runs only when a session ended (or the server started) since the last call and the last
    // clean-up lies 300 seconds back on the monotonic clock. A GUID folder goes when no open
    // session runs or uploads that kernel and its upload is unknown or older than 24 hours
    // (measured against `now`); other entries of the cache folder are never touched. Called
    // without the global lock; takes it per folder.
    void clean(Manager& manager, tnw::util::Time now, std::uint64_t monotonicNow);
    const std::set<std::string>& undeletable() const { return undeletable_; }

private:
    std::optional<std::uint64_t> lastCleanUp_;
    std::set<std::string> undeletable_;
};

// The process-wide clean-up as of the current time. Called on the main thread only: at the
// server's start and stop, and when a connection arrives while no session is open.
void cleanKernelCache(Manager& manager);

} // namespace plexmill::server
