#include "monitor/desktop_commands.hpp"

#include "util/environment.hpp"
#include "util/files.hpp"
#include "util/program_search.hpp"
#include "util/system_info.hpp"
#include "util/version.hpp"

namespace plexmill::monitor {

namespace {

std::string serverProgram(const DesktopEnvironment& environment) {
    return tnw::util::joinPath(environment.programFolder, "plexmilld");
}

// `command` in a new terminal window: Debian's x-terminal-emulator, else the user's $TERMINAL;
// both take the command after "-e".
Command inTerminal(const DesktopEnvironment& environment, const Command& command) {
    std::string terminal = environment.findProgram("x-terminal-emulator");
    if (terminal.empty() && !environment.terminalVariable.empty()) {
        terminal = environment.findProgram(environment.terminalVariable);
    }
    if (terminal.empty()) {
        return {};
    }
    Command line = {terminal, "-e"};
    line.insert(line.end(), command.begin(), command.end());
    return line;
}

} // namespace

DesktopEnvironment systemDesktopEnvironment() {
    return {tnw::util::programFolder(),
            tnw::util::SystemInfo::isAdministrator(),
            tnw::util::findProgramOnPath,
            tnw::util::getEnvironment("TERMINAL")};
}

Command serviceCommand(const DesktopEnvironment& environment, const std::string& option) {
    Command line;
    // Without pkexec the command runs with the user's rights and reports its failure itself.
    if (!environment.administrator) {
        if (std::string pkexec = environment.findProgram("pkexec"); !pkexec.empty()) {
            line.push_back(pkexec);
        }
    }
    line.push_back(serverProgram(environment));
    line.push_back(option);
    return line;
}

Command consoleCommand(const DesktopEnvironment& environment) {
    return inTerminal(environment, {serverProgram(environment), "--run", "--verbose"});
}

Command eventLogCommand(const DesktopEnvironment& environment) {
    std::string journal = environment.findProgram("journalctl");
    if (journal.empty()) {
        return {};
    }
    return inTerminal(
        environment,
        {journal, std::string("--identifier=") + tnw::util::kProductName, "--pager-end"});
}

} // namespace plexmill::monitor
