// "Start Monitor on Logon": an XDG autostart entry, $XDG_CONFIG_HOME/autostart/plexmon.desktop
// (~/.config by default), that starts this very program file when the user logs on.
#pragma once

#include <optional>
#include <string>

namespace plexmill::monitor {

// A program path as one argument of a desktop entry's Exec key: in double quotes, with the
// characters the key reserves escaped. Nothing for a path that no Exec key can hold (a line
// break or another control character).
std::optional<std::string> quotedExecArgument(const std::string& path);

// The whole entry that starts `program` at logon.
std::string autostartEntryText(const std::string& quotedProgram);

class AutostartEntry {
public:
    // The entry file in the user's autostart folder, for `program` (this program by default).
    explicit AutostartEntry(std::string program = {});

    const std::string& path() const { return path_; }
    // The entry exists and starts exactly this program.
    bool enabled() const;
    // Writes the entry (atomically) or removes it; false with `error` set when that failed.
    bool enable(std::string& error) const;
    bool disable(std::string& error) const;

private:
    std::string program_;
    std::string path_;
};

} // namespace plexmill::monitor
