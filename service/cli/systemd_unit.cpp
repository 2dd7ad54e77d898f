#include "service/cli/systemd_unit.hpp"

#include "service/server/service_identity.hpp"
#include "util/environment.hpp"
#include "util/files.hpp"
#include "util/process.hpp"
#include "util/sync.hpp"
#include "util/text_file.hpp"

#include <string_view>

namespace plexmill::cli {

namespace {

struct EmbeddedResource {
    std::string_view path;
    std::string_view bytes;
    std::string_view contentType;
};

#include "generated/systemd_unit.inc"

constexpr std::string_view kProgramPlaceholder = "@PLEXMILLD@";
constexpr std::uint32_t kUnitMode = 0644;

std::string unitName() {
    return std::string(server::kServiceName) + ".service";
}

bool isMachineRoot() {
    return systemdRoot() == "/";
}

// The program word of a unit's command line: quoted, with what systemd would otherwise take
// as an escape or a specifier written so that it stands for itself. (systemd expands no
// variables in the program's own path, so "$" stays as it is.)
std::optional<std::string> quotedWord(const std::string& text) {
    std::string word = "\"";
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return std::nullopt;
        }
        switch (c) {
        case '\\':
            word += "\\\\";
            break;
        case '"':
            word += "\\\"";
            break;
        case '%':
            word += "%%";
            break;
        default:
            word += c;
            break;
        }
    }
    return word + "\"";
}

// Runs systemctl to its end; true when it succeeded.
bool systemctl(const std::vector<std::string>& arguments) {
    tnw::util::ProcessOptions options;
    options.arguments = systemctlCommand(arguments);
    tnw::util::Process process = tnw::util::Process::start(options);
    if (!process.isValid() || !process.resume()) {
        return false;
    }
    process.wait(tnw::util::kInfinite);
    return process.exitCode() == 0U;
}

} // namespace

std::optional<std::string> renderServiceUnit(const std::string& program) {
    auto word = quotedWord(program);
    if (!word) {
        return std::nullopt;
    }
    std::string unit(kEmbeddedResources[0].bytes);
    for (auto at = unit.find(kProgramPlaceholder); at != std::string::npos;
         at = unit.find(kProgramPlaceholder, at + word->size())) {
        unit.replace(at, kProgramPlaceholder.size(), *word);
    }
    return unit;
}

std::string systemdRoot() {
    std::string root = tnw::util::getEnvironment("PLEXMILL_SYSTEMD_ROOT");
    return root.empty() ? "/" : root;
}

std::string serviceUnitPath() {
    return tnw::util::joinPath(systemdRoot(), "etc/systemd/system/" + unitName());
}

bool systemdRunsMachine() {
    return tnw::util::isFolder(tnw::util::joinPath(systemdRoot(), "run/systemd/system"));
}

bool systemdDrivesService() {
    return isMachineRoot() && systemdRunsMachine() && tnw::util::exists(serviceUnitPath());
}

std::vector<std::string> systemctlCommand(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {"systemctl", "--quiet"};
    if (!isMachineRoot()) {
        command.push_back("--root=" + systemdRoot());
    }
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

bool installServiceUnit(const std::string& program) {
    auto unit = renderServiceUnit(program);
    std::string path = serviceUnitPath();
    if (!unit ||
        tnw::util::createFolders(tnw::util::joinPath(systemdRoot(), "etc/systemd/system")) != 0 ||
        tnw::util::replaceFile(path, *unit, kUnitMode) != 0) {
        return false;
    }
    // A running systemd reads the new unit before it is enabled; an offline root has nobody to
    // tell.
    bool enabled =
        (!isMachineRoot() || systemctl({"daemon-reload"})) && systemctl({"enable", unitName()});
    if (!enabled) {
        tnw::util::removeFile(path);
        if (isMachineRoot()) {
            systemctl({"daemon-reload"});
        }
    }
    return enabled;
}

bool removeServiceUnit() {
    std::string path = serviceUnitPath();
    if (!tnw::util::exists(path)) {
        return true;
    }
    // An enabled unit that is removed would leave its links behind.
    if (!systemctl({"disable", unitName()})) {
        return false;
    }
    bool removed = tnw::util::removeFile(path) == 0;
    if (isMachineRoot()) {
        systemctl({"daemon-reload"});
    }
    return removed;
}

} // namespace plexmill::cli
