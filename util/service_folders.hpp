// Where a program running as a system service keeps its files: the folders systemd made for
// it (StateDirectory=, CacheDirectory=, handed over in $STATE_DIRECTORY and $CACHE_DIRECTORY),
// or else the system's own places for them. A service has no home folder and must not keep
// what it needs in a temporary folder that anyone may clean.
#pragma once

#include <string>

namespace tnw::util {

// The folder name under /var/lib and /var/cache; a systemd unit names the same folders.
inline constexpr char kServiceFolderName[] = "quorvex-plexmill";

// $STATE_DIRECTORY (its first entry), or /var/lib/quorvex-plexmill.
std::string serviceStateFolder();
// $CACHE_DIRECTORY (its first entry), or /var/cache/quorvex-plexmill.
std::string serviceCacheFolder();

} // namespace tnw::util
