#include "service/session/kernel_folder.hpp"

#include <optional>

#include "service/protocol/numbers.hpp"
#include "service/session/kernel_contract.hpp"
#include "util/files.hpp"

namespace plexmill::session {

std::string chooseKernelFolder(const KernelSources& sources, std::uint32_t clientRevision, const std::string& guid) {
    using tnw::util::isFolder;
    using tnw::util::joinPath;
    // An exact revision subfolder serves its clients even where a fixed folder serves the
    // others; the nearest older revision only stands in when nothing was chosen.
    std::string folder = sources.fixedKernel;
    if (clientRevision != 0) {
        for (const auto& include : sources.includePaths) {
            std::string exact = joinPath(include, std::to_string(clientRevision));
            if (isFolder(exact)) {
                folder = exact;
                break;
            }
        }
        if (folder.empty()) {
            std::optional<std::uint32_t> best;
            for (const auto& include : sources.includePaths) {
                for (const auto& name : tnw::util::listFiles(include)) {
                    auto number = protocol::parseUnsigned(name);
                    if (number && *number <= clientRevision && (!best || *number > *best)) {
                        best = number;
                        folder = joinPath(include, name);
                    }
                }
            }
        }
    }
    if (folder.empty() && !sources.cloud) {
        if (!guid.empty()) {
            folder = joinPath(sources.cacheFolder, guid);
        } else if (std::string executable = joinPath(sources.cacheFolder, kKernelExecutable);
                   tnw::util::exists(executable) && !isFolder(executable)) {
            // The server makes its cache folder as it starts, so the folder's being there says
            // nothing; only a kernel placed in it stands in for the one beside the program.
            folder = sources.cacheFolder;
        }
    }
    if (!isFolder(folder)) {
        folder = sources.programFolder;
    }
    return folder;
}

} // namespace plexmill::session
