// Which folder a session's CAM kernel is taken from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plexmill::session {

struct KernelSources {
    std::string fixedKernel;               // --kernel
    std::vector<std::string> includePaths; // --include, in order
    bool cloud = false;
    std::string cacheFolder;   // uploaded kernels, one folder per GUID
    std::string programFolder; // the folder of plexmilld itself
};

// The fixed folder; else, for a non-zero client revision, the subfolder named by the revision
// in the first include path that has one, or else the greatest numbered subfolder not above
// the revision (the first found among equals); else (not in cloud mode) the GUID's folder in
// the cache, or for an empty GUID the cache folder itself when it holds a kernel executable;
// and when that is not an existing folder, the program's own folder.
std::string chooseKernelFolder(const KernelSources& sources, std::uint32_t clientRevision, const std::string& guid);

} // namespace plexmill::session
