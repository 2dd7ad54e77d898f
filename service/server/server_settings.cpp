#include "service/server/server_settings.hpp"

#include "service/server/peer_display_name.hpp"
#include "service/server/settings.hpp"
#include "util/access_log.hpp"
#include "util/console.hpp"
#include "util/exception.hpp"
#include "util/files.hpp"
#include "util/format.hpp"
#include "util/private_folder.hpp"
#include "util/registry.hpp"
#include "util/service_folders.hpp"
#include "util/sizes.hpp"
#include "util/stream_copy.hpp"
#include "util/system_info.hpp"
#include "util/version.hpp"

#include <algorithm>
#include <optional>

namespace plexmill::server {

namespace {

using tnw::util::Registry;
using tnw::util::RegistryAccess;
using tnw::util::RegistryRoot;
using tnw::util::RegistryType;
using tnw::util::RegistryValue;

// HKEY_CURRENT_USER's value when it has one, else HKEY_LOCAL_MACHINE's.
std::optional<RegistryValue> findValue(const std::string& name) {
    auto user = Registry::open(RegistryRoot::CurrentUser, kSettingsKey, RegistryAccess::All);
    if (auto value = Registry::query(user, name)) {
        return value;
    }
    auto machine = Registry::open(RegistryRoot::LocalMachine, kSettingsKey, RegistryAccess::Read);
    return Registry::query(machine, name);
}

} // namespace

std::uint32_t readRegistryNumber(const std::string& name, std::uint32_t fallback) {
    auto value = findValue(name);
    if (!value || value->type != static_cast<std::uint32_t>(RegistryType::Dword) || value->raw.size() != 4) {
        return fallback;
    }
    return value->raw[0] | (value->raw[1] << 8) | (value->raw[2] << 16) |
           (static_cast<std::uint32_t>(value->raw[3]) << 24);
}

std::string readRegistryText(const std::string& name, const std::string& fallback) {
    auto value = findValue(name);
    if (!value || (value->type != static_cast<std::uint32_t>(RegistryType::String) &&
                   value->type != static_cast<std::uint32_t>(RegistryType::ExpandString))) {
        return fallback;
    }
    return value->text;
}

namespace {

// A name table larger than this is not a name table.
constexpr std::size_t kLookupFileLimit = 16 * 1024 * 1024;

std::string clockText(std::uint32_t hhmm) {
    return tnw::util::formatPrintf("%02d:%02d", static_cast<int>(hhmm / 100), static_cast<int>(hhmm % 100));
}

void printSettings(const ServerSettings& loaded, const Settings& options) {
    using tnw::util::format;
    std::vector<std::string> lines;
    lines.push_back("Intermediate folder: " + loaded.intermediateFolder);
    lines.push_back("Cache folder: " + loaded.cacheFolder);
    if (!options.fixedKernel.empty()) {
        lines.push_back("Fixed CAM kernel: " + options.fixedKernel);
    } else if (!options.includePaths.empty()) {
        lines.push_back("CAM kernel include paths:");
        for (const auto& path : options.includePaths) {
            lines.push_back("  " + path);
        }
    }
    if (!options.allowedClients.empty()) {
        lines.push_back("Allowed clients:");
        for (std::uint32_t address : options.allowedClients) {
            lines.push_back("  " + peerDisplayName(address));
        }
    }
    if (!options.allowedTimes.empty()) {
        lines.push_back("Allowed time intervals:");
        for (const auto& interval : options.allowedTimes) {
            lines.push_back("  " + clockText(interval.start) + " -> " + clockText(interval.end));
        }
    }
    lines.push_back(format("Listening on port: %1", loaded.port));
    lines.push_back(format("Advertising on port: %1", loaded.broadcastPort));
    if (loaded.useHttp) {
        lines.push_back(format("Presenting HTTP status on port: %1", loaded.httpStatusPort));
    }
    lines.push_back(format("Maximum number of concurrent sessions: %1", loaded.maximumSessions));
    lines.push_back("Minimum system memory: " + tnw::util::formatSize(loaded.minimumSystemMemory));
    for (const auto& line : lines) {
        tnw::util::printLine(tnw::util::ConsoleStream::Output, tnw::util::ConsoleColour::Settings, line);
    }
}

// The server writes client data, its log and its caches here: a folder that is not its own
// alone refuses the start rather than being written through.
bool preparePrivate(const std::string& folder) {
    try {
        tnw::util::preparePrivateFolder(folder);
        return true;
    } catch (const tnw::util::Exception& failure) {
        tnw::util::printError(failure.getMessage());
        return false;
    }
}

} // namespace

bool loadSettings(ServerSettings& loaded) {
    using namespace tnw::util;
    Settings& options = settings();
    bool console = !outputOptions().serviceMode;

    // A service has no account folders of its own and must not leave its access log and
    // uploaded kernels in a temporary folder that anyone may clean: it uses the system's.
    loaded.intermediateFolder =
        joinPath(console ? tempFolder() : serviceStateFolder(), kProductName);
    if (!preparePrivate(loaded.intermediateFolder)) {
        return false;
    }
    loaded.cacheFolder = joinPath(console ? specialFolder(2) : serviceCacheFolder(), kProductName);
    if (!preparePrivate(loaded.cacheFolder)) {
        return false;
    }
    loaded.broadcastPort = static_cast<std::uint16_t>(readRegistryNumber("broadcast port", 7388));
    loaded.port = static_cast<std::uint16_t>(readRegistryNumber("port", 7387));
    loaded.httpStatusPort = static_cast<std::uint16_t>(readRegistryNumber("http status port", 8080));
    std::uint32_t sessions = SystemInfo::coreCount();
    if (sessions == 0) {
        sessions = SystemInfo::processorCount();
    }
    loaded.useHttp = readRegistryNumber("use http", 0) != 0 || options.http;
    sessions = readRegistryNumber("maximum number of sessions", sessions);
    loaded.minimumSystemMemory = std::uint64_t{readRegistryNumber("minimum system memory", 512)} * 1'048'576ULL;
    loaded.maximumSessions = std::max<std::uint32_t>(std::min(sessions, options.maximumSessionsLimit), 1);
    loaded.admissionRules = {AdmissionRule{0, 0xFFFFFFFFU, true}};

    std::string lookupPath = readRegistryText("lookup", options.lookupFile);
    if (!lookupPath.empty()) {
        options.nameLookup.clear();
        ReadBuffer contents(kLookupFileLimit);
        if (readFile(lookupPath, contents)) {
            parseNameLookup(contents.bytes, options.nameLookup);
        } else if (console && options.verbose) {
            printLine(ConsoleStream::Error, ConsoleColour::Error, "Error: Failed to load name lookup file.");
        }
    }
    if (console && options.verbose) {
        printSettings(loaded, options);
    }
    AccessLog::close();
    AccessLog::open(loaded.intermediateFolder);
    return true;
}

} // namespace plexmill::server
