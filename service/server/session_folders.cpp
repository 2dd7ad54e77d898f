#include "service/server/session_folders.hpp"

#include "util/console.hpp"
#include "util/files.hpp"
#include "util/hex.hpp"

namespace plexmill::server {

namespace {

constexpr std::string_view kPrefix = "session-";
constexpr std::size_t kIdDigits = 16;

} // namespace

std::string sessionFolderName(std::int64_t sessionId) {
    return std::string(kPrefix) +
           tnw::util::formatHex(static_cast<std::uint64_t>(sessionId), tnw::util::kHexFullWidth);
}

bool isSessionFolderName(std::string_view name) {
    if (name.size() != kPrefix.size() + kIdDigits || !name.starts_with(kPrefix)) {
        return false;
    }
    for (char c : name.substr(kPrefix.size())) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

void removeLeftoverSessionFolders(const std::string& intermediateFolder, bool report) {
    for (const auto& name : tnw::util::listFiles(intermediateFolder)) {
        if (!isSessionFolderName(name)) {
            continue;
        }
        std::string path = tnw::util::joinPath(intermediateFolder, name);
        if (report) {
            tnw::util::printInfo("Removing session folder '" + path + "' left by an earlier run.");
        }
        // Anything else of that name would keep a new session from making its folder there.
        if (tnw::util::removeFolder(path) != 0) {
            tnw::util::removeFile(path);
        }
    }
}

} // namespace plexmill::server
