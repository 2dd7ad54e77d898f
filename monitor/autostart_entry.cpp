#include "monitor/autostart_entry.hpp"

#include "util/files.hpp"
#include "util/format.hpp"
#include "util/version.hpp"

#include <fstream>
#include <sstream>

namespace plexmill::monitor {

namespace {

constexpr char kExecKey[] = "Exec=";

} // namespace

std::optional<std::string> quotedExecArgument(const std::string& path) {
    // Two levels: inside the Exec key's quotes '"', '`', '$' and '\' take a backslash and '%'
    // (which starts a field code) is doubled; then the key's value is a string whose own
    // backslashes are doubled.
    std::string argument = "\"";
    for (char c : path) {
        auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F) {
            return std::nullopt;
        }
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            argument += '\\';
        } else if (c == '%') {
            argument += '%';
        }
        argument += c;
    }
    argument += '"';
    std::string value;
    for (char c : argument) {
        value += c;
        if (c == '\\') {
            value += c;
        }
    }
    return value;
}

std::string autostartEntryText(const std::string& quotedProgram) {
    return tnw::util::format("[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=%1 Monitor\n"
                             "Comment=Shows the state of the local %1 server in the system tray\n"
                             "Exec=%2\n"
                             "Icon=plexmon\n"
                             "Terminal=false\n"
                             "NoDisplay=true\n"
                             "X-GNOME-Autostart-enabled=true\n",
                             tnw::util::kProductName,
                             quotedProgram);
}

AutostartEntry::AutostartEntry(std::string program)
    : program_(program.empty() ? tnw::util::programPath() : std::move(program)),
      path_(tnw::util::joinPath(
          tnw::util::joinPath(tnw::util::specialFolder(tnw::util::special_folder::kApplicationData),
                              "autostart"),
          "plexmon.desktop")) {}

bool AutostartEntry::enabled() const {
    auto quoted = quotedExecArgument(program_);
    std::ifstream file(path_);
    if (!quoted || !file) {
        return false;
    }
    std::string wanted = kExecKey + *quoted;
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with(kExecKey)) {
            return line == wanted;
        }
    }
    return false;
}

bool AutostartEntry::enable(std::string& error) const {
    auto quoted = quotedExecArgument(program_);
    if (!quoted) {
        error = tnw::util::format("The program path '%1' cannot be started at logon.", program_);
        return false;
    }
    std::string folder = path_.substr(0, path_.rfind('/'));
    std::string temporary = path_ + ".new";
    if (tnw::util::createFolders(folder) != 0) {
        error = tnw::util::format("Failed to create the folder '%1'.", folder);
        return false;
    }
    {
        std::ofstream file(temporary, std::ios::trunc);
        file << autostartEntryText(*quoted);
        file.close();
        if (!file) {
            tnw::util::removeFile(temporary);
            error = tnw::util::format("Failed to write '%1'.", temporary);
            return false;
        }
    }
    if (tnw::util::renameFile(temporary, path_) != 0) {
        tnw::util::removeFile(temporary);
        error = tnw::util::format("Failed to write '%1'.", path_);
        return false;
    }
    return true;
}

bool AutostartEntry::disable(std::string& error) const {
    if (tnw::util::exists(path_) && tnw::util::removeFile(path_) != 0) {
        error = tnw::util::format("Failed to remove '%1'.", path_);
        return false;
    }
    return true;
}

} // namespace plexmill::monitor
