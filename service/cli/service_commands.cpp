#include "service/cli/service_commands.hpp"

#include "service/cli/service_manager.hpp"
#include "service/cli/service_record.hpp"
#include "service/server/server_settings.hpp"
#include "util/console.hpp"
#include "util/files.hpp"
#include "util/format.hpp"
#include "util/registry.hpp"
#include "util/version.hpp"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace plexmill::cli {

namespace {

using tnw::util::printError;

constexpr char kStartFailed[] = "Failed to start Plexmill service.";
constexpr char kStopFailed[] = "Failed to stop Plexmill service.";

// Prints `failure` when the operation did not work; the exit code.
int outcome(bool worked, const char* failure) {
    if (!worked) {
        printError(failure);
        return 1;
    }
    return 0;
}

int restart() {
    if (isServiceRunning() && !stopService()) {
        return outcome(false, kStopFailed);
    }
    return outcome(startService(), kStartFailed);
}

int reload() {
    if (!isServiceRunning()) {
        return 0;
    }
    return outcome(reloadService(), "Failed to request reload for Plexmill service.");
}

// The path resolved against the current folder, "." and ".." taken out, as the service
// record needs it; the text unchanged when the current folder cannot be found.
std::string absolutePath(const std::string& path) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

int install(const std::string& path) {
    std::string module = tnw::util::programPath();
    std::string target = path.empty() ? module : path;
    if (!path.empty() && path != module && tnw::util::copyFile(module, path, true) != 0) {
        std::fputs(tnw::util::format("Error: Failed to copy service to '%1'.\n", path).c_str(),
                   stderr);
        return 1;
    }
    if (!installService(absolutePath(target))) {
        tnw::util::printLine(tnw::util::ConsoleStream::Error,
                             tnw::util::ConsoleColour::Error,
                             "Error: Failed to install service.");
        return 1;
    }
    registerEventSource(target);
    return 0;
}

int uninstall() {
    if (isServiceRunning() && !stopService()) {
        printError(tnw::util::format("Failed to stop %1 service.", tnw::util::kProductName));
        return 1;
    }
    if (!uninstallService()) {
        printError(tnw::util::format("Failed to uninstall %1 service.", tnw::util::kProductName));
        return 1;
    }
    return 0;
}

} // namespace

void setHttpEnabled(bool enable) {
    using tnw::util::Registry;
    auto key = Registry::open(tnw::util::RegistryRoot::LocalMachine,
                              server::kSettingsKey,
                              tnw::util::RegistryAccess::All);
    auto value = Registry::query(key, "use http");
    bool enabled = value &&
                   value->type == static_cast<std::uint32_t>(tnw::util::RegistryType::Dword) &&
                   value->raw.size() == 4 &&
                   (value->raw[0] | value->raw[1] | value->raw[2] | value->raw[3]) != 0;
    if (enabled == enable) {
        return;
    }
    Registry::writeDword(key, "use http", enable ? 1 : 0);
    if (isServiceRunning()) {
        if (!stopService()) {
            printError(kStopFailed);
        } else if (!startService()) {
            printError(kStartFailed);
        }
    }
}

int runServiceCommand(const CommandLine& line) {
    switch (line.command) {
    case Command::Start:
        return outcome(startService(), kStartFailed);
    case Command::Stop:
        return outcome(stopService(), kStopFailed);
    case Command::Pause:
        return outcome(pauseService(), "Failed to pause Plexmill service.");
    case Command::Resume:
        return outcome(resumeService(), "Failed to resume Plexmill service.");
    case Command::Restart:
        return restart();
    case Command::Reload:
        return reload();
    case Command::EnableHttp:
        setHttpEnabled(true);
        return 0;
    case Command::DisableHttp:
        setHttpEnabled(false);
        return 0;
    case Command::Install:
        return install(line.installPath);
    case Command::Uninstall:
        return uninstall();
    default:
        break;
    }
    return 1;
}

} // namespace plexmill::cli
